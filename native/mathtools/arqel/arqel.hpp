// Vector kernels of quorvane.mathtools.arqel.arqel.
//
// A 3-vector is a pointer to three contiguous doubles (x, y, z); a 3x3 matrix
// is three rows of three doubles.  The caller owns all storage.  The order of
// operations is fixed so results are reproducible to the last bit; build with
// contraction (FMA) off.
//
// Other native modules bind the exported kernels from arqel's __pyx_capi__ by
// name and signature string.  The inline definitions here are the arithmetic
// those kernels perform; `angle` and `normalize` are exported with the native
// error convention on top (angle_value and normalize_values are their
// arithmetic alone).
#pragma once

#include <cmath>
#include <cstddef>

extern "C" {
// A strided view of doubles with up to two dimensions, handed to and
// returned by the array kernels.  `owner` is the PyObject* that owns the
// memory; a returned view carries a new reference to it (null when the kernel
// failed, with a Python exception pending).
typedef struct qv_ArrayView {
    void* owner;
    char* data;
    int ndim;
    std::ptrdiff_t shape[2];
    std::ptrdiff_t strides[2];  // bytes
} qv_ArrayView;
}

namespace qv::arqel {

// Signature strings under which the kernels are exported.
inline constexpr const char* sig_scale = "void (double const , double *, double *)";
inline constexpr const char* sig_vvv = "void (double *, double *, double *)";  // add, sub, cross
inline constexpr const char* sig_dot = "double (double *, double *)";          // dot, angle
inline constexpr const char* sig_norm = "double (double *)";
inline constexpr const char* sig_normalize = "void (double *, double *)";
inline constexpr const char* sig_mat_x_vec = "void (double (*)[3], double *, double *)";
// The two array kernels take a 2-D view of doubles and return a new one.
inline constexpr const char* sig_array = "struct qv_ArrayView (struct qv_ArrayView)";

using Scale = void(double, double*, double*);
using VecVecVec = void(double*, double*, double*);
using Dot = double(double*, double*);
using Norm = double(double*);
using Normalize = void(double*, double*);
using MatXVec = void(double (*)[3], double*, double*);
using ArrayKernel = qv_ArrayView(qv_ArrayView);

inline void scale(double const scalar, double* a, double* c) {
    c[0] = a[0] * scalar;
    c[1] = a[1] * scalar;
    c[2] = a[2] * scalar;
}
inline void add(double* a, double* b, double* c) {
    c[0] = a[0] + b[0];
    c[1] = a[1] + b[1];
    c[2] = a[2] + b[2];
}
inline void sub(double* a, double* b, double* c) {
    c[0] = a[0] - b[0];
    c[1] = a[1] - b[1];
    c[2] = a[2] - b[2];
}
inline double dot(double* a, double* b) { return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]; }
// c = a x b; c must not overlap a or b (c0 is written before c1, c2 are read).
inline void cross(double* a, double* b, double* c) {
    c[0] = a[1] * b[2] - a[2] * b[1];
    c[1] = a[2] * b[0] - a[0] * b[2];
    c[2] = a[0] * b[1] - a[1] * b[0];
}
inline double norm(double* a) { return std::sqrt((a[0] * a[0] + a[1] * a[1]) + a[2] * a[2]); }
// The arithmetic of the exported `normalize`: multiply by the reciprocal of
// the norm (not a division per component), so (3, 4, 0) gives
// (0.6000000000000001, 0.8, 0).  In place when u == a.
inline void normalize_values(double* a, double* u) {
    double n = norm(a);
    double k = 1.0 / n;
    u[0] = a[0] * k;
    u[1] = a[1] * k;
    u[2] = a[2] * k;
}
// The arithmetic of the exported `angle`.  Rounding can push the cosine of
// (nearly) parallel vectors just past +-1, where acos is NaN; the angle of a
// vector with itself is 0, so the quotient is clamped first.  NaN (zero or
// non-finite input) passes through.
inline double angle_value(double* a, double* b) {
    double q = (dot(a, b) / norm(a)) / norm(b);
    if (q > 1.0) q = 1.0;
    if (q < -1.0) q = -1.0;
    return std::acos(q);
}
// b = M a; b must not overlap M or a.
inline void mat_x_vec(double (*M)[3], double* a, double* b) {
    for (int i = 0; i < 3; ++i) {
        b[i] = 0.0;
        b[i] += M[i][0] * a[0];
        b[i] += M[i][1] * a[1];
        b[i] += M[i][2] * a[2];
    }
}

}  // namespace qv::arqel
