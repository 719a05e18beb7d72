// Forced inlining for hot kernel helpers, flattened sample loops, and
// bodies kept opaque to the optimizer.
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

// QV_OPAQUE: a function neither inlined nor specialised for its callers'
// arguments.  A per-thread body that receives the thread's thread_local
// scratch as a reference parameter keeps it in a register; specialised for
// that argument, GCC would look the thread-local storage up again at each
// use (a call in a shared library).  The __attribute__ form: the bracketed
// one after a lambda's parameters is not applied to its call operator.
#if defined(__clang__)
#define QV_OPAQUE __attribute__((noinline))
#else
#define QV_OPAQUE __attribute__((noipa))
#endif
