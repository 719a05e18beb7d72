// Python-free view of the interpreter's error state, for native kernels.
//
// Kernels that call something able to raise (a bound sibling function) test
// for a pending exception after the call and, when one is pending, add a
// traceback entry naming themselves.  These helpers take the interpreter lock
// for that moment only, so the kernels may run with or without it, and keep
// Python headers out of kernel sources.
#pragma once

namespace qv {

// True when a Python exception is pending on this thread.
bool error_pending() noexcept;
// Add a traceback entry "function" (full dotted path) to the pending exception.
void add_traceback(const char* function) noexcept;

}  // namespace qv
