// Forced inlining for hot kernel helpers.
//
// The vectorised kernels rely on their small helpers being inlined (a call
// would pass every lane through memory).  Sanitizer builds leave the choice to
// the compiler: instrumenting the fully inlined sample loops took it tens of
// minutes a file, and inlining changes no result here (contraction is off and
// nothing is reassociated), so those builds still test the same arithmetic.
#pragma once

#if defined(QV_SANITIZE)
#define QV_FORCE_INLINE
#else
#define QV_FORCE_INLINE [[gnu::always_inline]]
#endif
