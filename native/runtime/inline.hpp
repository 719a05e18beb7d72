// Forced inlining for hot kernel helpers, and flattened sample loops.
//
// The vectorised kernels rely on their small helpers being inlined (a call
// would pass every lane through memory).  Sanitizer builds leave the choice to
// the compiler: instrumenting the fully inlined sample loops took it tens of
// minutes a file, and inlining changes no result here (contraction is off and
// nothing is reassociated), so those builds still test the same arithmetic.
// QV_FLATTEN (everything a loop calls inlined into it) is dropped there for
// the same reason: the flattened geodetic loop alone took the compiler
// minutes per instruction set under the sanitizer.
#pragma once

#if defined(QV_SANITIZE)
#define QV_FORCE_INLINE
#define QV_FLATTEN
#else
#define QV_FORCE_INLINE [[gnu::always_inline]]
#define QV_FLATTEN [[gnu::flatten]]
#endif
