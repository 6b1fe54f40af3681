#include "vecco.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

TEST(VeccoTest, DefaultVectorsAreZeroAndBuildersFillInOrder)
{
  fcolor Clear;
  EXPECT_TRUE(Clear == 0.0f);
  EXPECT_TRUE(Clear.zero());
  EXPECT_TRUE(iloc().zero());

  const double Values[] = {1.5, -2.5, 3.5};
  EXPECT_TRUE(rpos(Values) == mkrpos(1.5, -2.5, 3.5));
  EXPECT_TRUE(rloc(7.0) == mkrloc(7.0, 7.0));
  fcolor C = mkfcolor(0.1f, 0.2f, 0.3f, 0.4f);
  // The components are one contiguous array, as glColor4fv reads them.
  const float* P = C;
  EXPECT_EQ(P[0], 0.1f);
  EXPECT_EQ(P[3], 0.4f);
  EXPECT_FALSE(C.zero());
  C.clear();
  EXPECT_TRUE(C.zero());
}

TEST(VeccoTest, ArithmeticIsComponentWiseInTheComponentType)
{
  EXPECT_TRUE(mkrpos(1, 2, 3) * mkrpos(4, 5, 6) == mkrpos(4, 10, 18));
  EXPECT_TRUE(mkrpos(4, 10, 18) / mkrpos(4, 5, 6) == mkrpos(1, 2, 3));
  EXPECT_TRUE(mkrpos(1, 2, 3) - mkrpos(4, 5, 6) == mkrpos(-3, -3, -3));
  EXPECT_TRUE(mkiloc(7, -7) / 2 == mkiloc(3, -3));  // int division truncates toward zero
  EXPECT_TRUE(mkrloc(1, -1) + 0.5 == mkrloc(1.5, -0.5));
  // Single precision: the float sum, not the double one.
  EXPECT_EQ((fcolor(0.1f) + 0.2f)[0], 0.1f + 0.2f);

  iloc V = mkiloc(1, 2);
  ++V;
  EXPECT_TRUE(V == mkiloc(2, 3));
  --V;
  --V;
  EXPECT_TRUE(V == mkiloc(0, 1));
  EXPECT_TRUE(V != mkiloc(0, 2));
}

TEST(VeccoTest, AssignmentsReturnTheVectorItselfSoTheyChain)
{
  rpos A, B;
  A = B = mkrpos(1, 2, 3);
  EXPECT_TRUE(A == mkrpos(1, 2, 3));
  EXPECT_EQ(&(A += mkrpos(1, 1, 1)), &A);
  EXPECT_EQ(&(A -= 1.0), &A);
  EXPECT_EQ(&(A *= 2.0), &A);
  EXPECT_EQ(&(A /= mkrpos(2, 4, 6)), &A);
  EXPECT_EQ(&(A = 5.0), &A);
  EXPECT_TRUE(A == 5.0);
  EXPECT_TRUE(B == mkrpos(1, 2, 3));  // copies, not shared storage
}

TEST(VeccoTest, LengthAndSafeNormalize)
{
  rpos V = mkrpos(3, 4, 0);
  EXPECT_EQ(length_squared(V), 25.0);
  EXPECT_EQ(length(V), 5.0);
  safe_normalize(V);
  EXPECT_TRUE(V == mkrpos(0.6, 0.8, 0));

  rpos Zero;
  safe_normalize(Zero);
  EXPECT_TRUE(Zero == mkrpos(1, 0, 0));
  fcolor ZeroColor;
  safe_normalize(ZeroColor);
  EXPECT_TRUE(ZeroColor == mkfcolor(1, 0, 0, 0));
}

TEST(VeccoTest, OrderIsLexicographicSoVectorsKeyMaps)
{
  EXPECT_TRUE(mkiloc(1, 9) < mkiloc(2, 0));
  EXPECT_TRUE(mkiloc(1, 2) < mkiloc(1, 3));
  EXPECT_FALSE(mkiloc(1, 3) < mkiloc(1, 2));
  EXPECT_FALSE(mkiloc(1, 2) < mkiloc(1, 2));

  std::map<iloc, int> Cells;
  Cells[mkiloc(0, 1)] = 1;
  Cells[mkiloc(1, 0)] = 2;
  Cells[mkiloc(0, 1)] = 3;
  ASSERT_EQ(Cells.size(), 2u);
  EXPECT_EQ(Cells[mkiloc(0, 1)], 3);
}
