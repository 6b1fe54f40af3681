#include "ref.h"

#include <gtest/gtest.h>

#include <set>

namespace {

// Counts its destructions, so a test sees an object deleted exactly once
// and exactly at the last release.
struct counted {
  static int Destroyed;
  int value;
  explicit counted(int V) : value(V) {}
  ~counted() { ++Destroyed; }
};
int counted::Destroyed = 0;

class RefTest : public testing::Test {
 protected:
  void SetUp() override { counted::Destroyed = 0; }
};

}  // namespace

TEST_F(RefTest, NullHandleYieldsNullPointersAndItsCopiesStayNull)
{
  ref<counted> H;
  EXPECT_TRUE(H.null());
  EXPECT_EQ(H.ptr(), nullptr);
  EXPECT_EQ(H.c_ptr(), nullptr);
  EXPECT_EQ(H(), nullptr);
  EXPECT_EQ(H.operator->(), nullptr);
  EXPECT_EQ(H.count(), 0);
  EXPECT_FALSE(H.is_placeholder());
  H.clear();
  ref<counted> Copy(H);
  ref<counted> Assigned;
  Assigned = H;
  EXPECT_TRUE(Copy.null());
  EXPECT_EQ(Assigned.count(), 0);
}

TEST_F(RefTest, LastReleaseDeletesTheObjectOnce)
{
  ref<counted> A = mkref(new counted(7));
  EXPECT_EQ(A.count(), 1);
  EXPECT_FALSE(A.null());
  EXPECT_EQ(A->value, 7);
  {
    ref<counted> B(A);
    EXPECT_EQ(A.count(), 2);
    EXPECT_EQ(B.ptr(), A.ptr());
    A.clear();
    EXPECT_TRUE(A.null());
    EXPECT_EQ(B.count(), 1);
    EXPECT_EQ(counted::Destroyed, 0);
    EXPECT_EQ(B->value, 7);
  }
  EXPECT_EQ(counted::Destroyed, 1);

  // Assignment releases the old share first: a sole owner's object goes.
  ref<counted> C = mkref(new counted(1));
  ref<counted> D = mkref(new counted(2));
  C = D;
  EXPECT_EQ(counted::Destroyed, 2);
  EXPECT_EQ(C->value, 2);
  EXPECT_EQ(D.count(), 2);

  // init on a sharing handle gives up that share for a hub of its own.
  C.init(new counted(3));
  EXPECT_EQ(D.count(), 1);
  EXPECT_EQ(C.count(), 1);
  EXPECT_EQ(C->value, 3);
  EXPECT_EQ(counted::Destroyed, 2);
}

TEST_F(RefTest, AssigningFromTheSameHubKeepsTheObjectAlive)
{
  ref<counted> A = mkref(new counted(5));
  ref<counted>& Alias = A;
  A = Alias;  // a sole owner assigned to itself
  EXPECT_EQ(A.count(), 1);
  EXPECT_EQ(A->value, 5);

  const ref<counted>& ConstAlias = A;
  A = ConstAlias;
  EXPECT_EQ(A.count(), 1);
  EXPECT_EQ(A->value, 5);

  ref<counted> B(A);
  B = A;
  A = B;
  EXPECT_EQ(A.count(), 2);
  EXPECT_EQ(B->value, 5);
  EXPECT_EQ(counted::Destroyed, 0);
}

TEST_F(RefTest, HubWithoutObjectIsNullAndFreesOnlyItself)
{
  ref<counted> H = mkref<counted>(nullptr);
  EXPECT_TRUE(H.null());
  EXPECT_EQ(H.count(), 1);
  ref<counted> Copy(H);
  EXPECT_EQ(H.count(), 2);
  H.clear();
  Copy.clear();  // the hub is freed here (the leak checker would see it otherwise)
  EXPECT_EQ(counted::Destroyed, 0);
}

TEST_F(RefTest, PlaceholderHubNeverDeletesItsObject)
{
  counted Local(4);  // deleting this would be a fault the sanitizers see
  {
    ref<counted> A;
    A.init_placeholder(&Local);
    EXPECT_TRUE(A.is_placeholder());
    EXPECT_EQ(A.count(), 1);
    ref<counted> B(A);
    EXPECT_TRUE(B.is_placeholder());
    EXPECT_EQ(B->value, 4);
  }
  EXPECT_EQ(counted::Destroyed, 0);
}

TEST_F(RefTest, OverlayPlaceholderGivesEveryHandleTheNewObjectAndOwnsIt)
{
  counted Local(1);
  {
    ref<counted> A;
    A.init_placeholder(&Local);
    ref<counted> B(A);
    A.overlay_placeholder(new counted(2));
    EXPECT_EQ(counted::Destroyed, 0);  // the placeholder's object is not owned
    EXPECT_FALSE(B.is_placeholder());
    EXPECT_EQ(B->value, 2);
    EXPECT_EQ(B.count(), 2);

    // Overlaying an owning hub deletes the object it owned, at once.
    B.overlay_placeholder(new counted(3));
    EXPECT_EQ(counted::Destroyed, 1);
    EXPECT_EQ(A->value, 3);
    // Overlaying the object the hub already holds deletes nothing.
    A.overlay_placeholder(A.ptr());
    EXPECT_EQ(counted::Destroyed, 1);
    EXPECT_EQ(B->value, 3);
  }
  EXPECT_EQ(counted::Destroyed, 2);

  ref<counted> Fresh;
  Fresh.overlay_placeholder(new counted(9));
  EXPECT_EQ(Fresh.count(), 1);
  EXPECT_FALSE(Fresh.is_placeholder());
  Fresh.clear();
  EXPECT_EQ(counted::Destroyed, 3);
}

TEST_F(RefTest, HandlesCompareByTheirSharedHub)
{
  ref<counted> A = mkref(new counted(1));
  ref<counted> SameHub(A);
  ref<counted> Other = mkref(new counted(1));  // equal value, other object
  EXPECT_TRUE(A == SameHub);
  EXPECT_FALSE(A == Other);
  EXPECT_TRUE(ref<counted>() == ref<counted>());
  EXPECT_FALSE(A < SameHub);
  EXPECT_NE(A < Other, Other < A);

  std::set<ref<counted>> Set = {A, SameHub, Other, ref<counted>()};
  EXPECT_EQ(Set.size(), 3u);
  EXPECT_EQ(A.count(), 3);  // the set holds a share
}

namespace {

// An object whose destruction reaches the very handle that owned it.
struct self_clearing;
ref<self_clearing> Owner;
struct self_clearing {
  ~self_clearing()
  {
    ++counted::Destroyed;
    Owner.clear();
  }
};

// An object holding a handle of its own, as a font holds its atlas.
struct holder {
  ref<counted> inner;
};

}  // namespace

TEST_F(RefTest, ObjectDestructorMayReleaseHandlesWithoutDoubleDelete)
{
  Owner = mkref(new self_clearing);
  Owner.clear();
  EXPECT_EQ(counted::Destroyed, 1);
  EXPECT_TRUE(Owner.null());

  ref<counted> Atlas = mkref(new counted(8));
  ref<holder> Font = mkref(new holder);
  Font->inner = Atlas;
  EXPECT_EQ(Atlas.count(), 2);
  Font.clear();
  EXPECT_EQ(Atlas.count(), 1);
  EXPECT_EQ(counted::Destroyed, 1);  // the registry's handle keeps it alive
  EXPECT_EQ(Atlas->value, 8);
}
