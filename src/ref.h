// A reference-counted handle to a heap object. All handles of one object
// share a hub that counts them; the last release deletes the object (unless
// the hub is a placeholder, which never owns its object) and then the hub.
#pragma once

#include <functional>

template <class T>
class ref {
 public:
  ref() : hub(nullptr) {}
  ref(const ref& P) : hub(P.hub) { share(); }
  virtual ~ref() { release(); }

  // Shares P's hub before releasing the old one, so assigning a handle to
  // itself, or from another handle of the same hub, never frees the object.
  const ref& operator=(const ref& P)
  {
    hub_struct* Old = hub;
    hub = P.hub;
    share();
    release_hub(Old);
    return *this;
  }
  const ref& operator=(ref& P) { return *this = static_cast<const ref&>(P); }

  // Takes ownership of P in a new hub; any share held before is released.
  void init(T* P) { attach(new hub_struct{false, 1, P}); }

  void clear() { release(); }

  // 0 for a null handle.
  int count() const { return hub ? hub->count : 0; }
  bool null() const { return c_ptr() == nullptr; }

  T* ptr() { return hub ? hub->object : nullptr; }
  const T* c_ptr() const { return hub ? hub->object : nullptr; }
  T* operator()() { return ptr(); }
  const T* operator()() const { return c_ptr(); }
  T* operator->() { return ptr(); }
  const T* operator->() const { return c_ptr(); }

  // Handles are equal when they share one hub (two null handles are equal);
  // the order is that of the hubs' addresses.
  bool operator==(const ref& P) const { return hub == P.hub; }
  bool operator<(const ref& P) const { return std::less<hub_struct*>()(hub, P.hub); }

  // False for a null handle.
  bool is_placeholder() const { return hub ? hub->placeholder : false; }

  // Shares P in a new hub that does not own it: the last release leaves P
  // alive. Any share held before is released.
  void init_placeholder(T* P) { attach(new hub_struct{true, 1, P}); }

  // Puts P into the hub this handle shares, so every handle of that hub sees
  // P from now on; the hub owns P afterwards. An object the hub owned before
  // is deleted (unless it is P itself); a placeholder's object is left alone.
  // A null handle gets a new owning hub, as with init(P).
  void overlay_placeholder(T* P)
  {
    if (!hub) {
      init(P);
      return;
    }
    T* Old = hub->object;
    bool OwnedOld = !hub->placeholder;
    hub->object = P;
    hub->placeholder = false;
    if (OwnedOld && Old && Old != P) delete Old;
  }

 private:
  struct hub_struct {
    bool placeholder;
    int count;
    T* object;
  };
  hub_struct* hub;

  void share()
  {
    if (hub) ++hub->count;
  }
  void attach(hub_struct* NewHub)
  {
    hub_struct* Old = hub;
    hub = NewHub;
    release_hub(Old);
  }
  // The handle lets go of its hub before the release can delete the object,
  // so an object whose destructor reaches this same handle finds it null
  // instead of releasing the hub a second time.
  void release()
  {
    hub_struct* Old = hub;
    hub = nullptr;
    release_hub(Old);
  }
  static void release_hub(hub_struct* H)
  {
    if (!H) return;
    if (--H->count > 0) return;
    if (!H->placeholder && H->object) delete H->object;
    delete H;
  }
};

template <class T>
ref<T> mkref(T* P)
{
  ref<T> R;
  R.init(P);
  return R;
}
