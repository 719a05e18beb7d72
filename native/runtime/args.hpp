// Argument binding for Python-callable functions, methods and constructors.
//
// Parameters are positional-or-keyword, except the last `keyword_only` ones,
// which are keyword-only and optional.  Binding follows a fixed order so the
// errors are reproducible: too many positional arguments first; then each
// parameter not given positionally is looked up by keyword, a missing
// required one failing at once (counted as the number of arguments bound
// before it); then leftover keywords are checked for names already bound
// positionally ("multiple values") and for unknown names ("unexpected").
#pragma once

#include "runtime/ref.hpp"

namespace qv {

struct Params {
    static constexpr int max_params = 8;

    const char* function;            // name used in the messages
    const char* names[max_params];   // parameter names, in order
    Py_ssize_t count;                // number of parameters
    Py_ssize_t required;             // the first `required` have no default
    Py_ssize_t keyword_only = 0;     // the last `keyword_only` are keyword-only (after a `*`)

    Py_ssize_t positional() const { return count - keyword_only; }

    // Interned names, created at first use.
    mutable PyObject* interned[max_params] = {};
};

// Vectorcall form: `out` receives `count` borrowed references, null for an
// optional parameter that was not given.  Returns 0, or -1 with TypeError.
int bind_arguments(const Params& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyObject** out);

// Tuple/dict form (type constructors).
int bind_arguments(const Params& params, PyObject* args, PyObject* kwargs, PyObject** out);

// Keyword-only parameters beside *args (no positional parameter): binds
// `names` from `kwargs`, rejecting any other keyword.
int bind_keywords(const Params& params, PyObject* kwargs, PyObject** out);

// An optional int argument: None (or a null pointer, for one not given)
// returns 0 and leaves *out alone; an int (not a bool) returns 1 with *out
// its value, or with *overflow set to its sign when it does not fit a long
// long (*out then meaningless); anything else returns -1 with TypeError
// "<name> must be None or an int, not <type>".
int optional_int_argument(PyObject* value, const char* name, long long* out, int* overflow);

// Reject any argument: "<function>() takes exactly 0 positional arguments"
// or "<function>() got an unexpected keyword argument '<name>'".
int bind_no_arguments(const char* function, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace qv
