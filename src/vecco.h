// Fixed-size vectors of S components of type T, held by value, and the
// system's named forms of them. Everything is inline; nothing allocates.
#pragma once

#include <cmath>

template <class T, int S>
class vecco {
 public:
  T components[S];

  vecco() { clear(); }
  explicit vecco(const T& Fill) { *this = Fill; }
  vecco(const vecco& Initvecco) { *this = Initvecco; }
  // Copies S values; the array must hold at least that many.
  explicit vecco(const T* Array)
  {
    for (int a = 0; a < S; ++a) components[a] = Array[a];
  }

  // The components are contiguous, so this is an array of S values (what
  // glVertex3dv and glColor4fv expect).
  operator T*() { return components; }
  operator const T*() const { return components; }

  // Exact test: every component compares equal to 0.
  bool zero() const
  {
    for (int a = 0; a < S; ++a)
      if (!(components[a] == T(0))) return false;
    return true;
  }
  void clear()
  {
    for (int a = 0; a < S; ++a) components[a] = T(0);
  }

  const vecco& operator=(const vecco& V)
  {
    for (int a = 0; a < S; ++a) components[a] = V.components[a];
    return *this;
  }
  const vecco& operator=(const T& K)
  {
    for (int a = 0; a < S; ++a) components[a] = K;
    return *this;
  }
  const vecco& operator++()
  {
    for (int a = 0; a < S; ++a) ++components[a];
    return *this;
  }
  const vecco& operator--()
  {
    for (int a = 0; a < S; ++a) --components[a];
    return *this;
  }

  bool operator==(const vecco& V) const
  {
    for (int a = 0; a < S; ++a)
      if (!(components[a] == V.components[a])) return false;
    return true;
  }
  bool operator!=(const vecco& V) const { return !(*this == V); }
  bool operator==(const T& K) const
  {
    for (int a = 0; a < S; ++a)
      if (!(components[a] == K)) return false;
    return true;
  }
  // Lexicographic by component, so vectors can key ordered containers.
  bool operator<(const vecco& V) const
  {
    for (int a = 0; a < S; ++a) {
      if (components[a] < V.components[a]) return true;
      if (V.components[a] < components[a]) return false;
    }
    return false;
  }

  T& operator[](int Index) { return components[Index]; }
  const T& operator[](int Index) const { return components[Index]; }

#define VECCO_ARITHMETIC(OP, OPEQ)                                  \
  vecco operator OP(const vecco& V) const                           \
  {                                                                 \
    vecco R(*this);                                                 \
    return R OPEQ V;                                                \
  }                                                                 \
  vecco operator OP(const T& K) const                               \
  {                                                                 \
    vecco R(*this);                                                 \
    return R OPEQ K;                                                \
  }                                                                 \
  const vecco& operator OPEQ(const vecco& V)                        \
  {                                                                 \
    for (int a = 0; a < S; ++a) components[a] OPEQ V.components[a]; \
    return *this;                                                   \
  }                                                                 \
  const vecco& operator OPEQ(const T& K)                            \
  {                                                                 \
    for (int a = 0; a < S; ++a) components[a] OPEQ K;               \
    return *this;                                                   \
  }
  VECCO_ARITHMETIC(+, +=)
  VECCO_ARITHMETIC(-, -=)
  VECCO_ARITHMETIC(*, *=)
  VECCO_ARITHMETIC(/, /=)
#undef VECCO_ARITHMETIC
};

typedef vecco<int, 2> iloc;
typedef vecco<double, 2> rloc;
typedef vecco<double, 3> rpos;
typedef vecco<float, 4> fcolor;

inline iloc mkiloc(int A, int B)
{
  iloc V;
  V[0] = A;
  V[1] = B;
  return V;
}
inline rloc mkrloc(double A, double B)
{
  rloc V;
  V[0] = A;
  V[1] = B;
  return V;
}
inline rpos mkrpos(double A, double B, double C)
{
  rpos V;
  V[0] = A;
  V[1] = B;
  V[2] = C;
  return V;
}
inline fcolor mkfcolor(float R, float G, float B, float A)
{
  fcolor V;
  V[0] = R;
  V[1] = G;
  V[2] = B;
  V[3] = A;
  return V;
}

template <class T, int S>
T length_squared(const vecco<T, S>& V)
{
  T Sum = T(0);
  for (int a = 0; a < S; ++a) Sum += V[a] * V[a];
  return Sum;
}

template <class T, int S>
T length(const vecco<T, S>& V)
{
  return std::sqrt(length_squared(V));
}

// Scales V to length 1; the zero vector becomes the unit vector along the
// first axis rather than NaN.
template <class T, int S>
void safe_normalize(vecco<T, S>& V)
{
  T Len = length(V);
  if (Len == T(0)) {
    V.clear();
    V[0] = T(1);
    return;
  }
  V /= Len;
}
