// Error helpers shared by the modules' Python-facing layers.
#pragma once

#include "runtime/kernel_errors.hpp"
#include "runtime/ref.hpp"

namespace qv {

// Add a traceback entry for `function` (full dotted path) to the pending
// exception; the caller holds the interpreter lock.
void add_traceback_held(const char* function, const char* filename = nullptr, int line = 0);

// The exact-type test of `str` parameters:
// TypeError "Argument '<arg>' has incorrect type (expected str, got <type>)".
// With none_allowed, None passes as well.  Returns 0 when the type is right.
int check_exact_str(PyObject* value, const char* argument, bool none_allowed);

// TypeError "<function>() takes <exactly|at least|at most> N positional argument[s] (M given)".
void raise_argument_count(const char* function, Py_ssize_t minimum, Py_ssize_t maximum, Py_ssize_t given);

}  // namespace qv
