// The Python-facing layer of quorvane.state.orbel: helpers shared by the
// entry points, and the entry points themselves (defined in
// entries_elements.cpp and entries_state.cpp, registered by module.cpp).
//
// Entry points run holding the interpreter lock.  They follow the item-by-
// item behaviour of the module's Python functions; where an argument is an
// exact numpy.ndarray of a real dtype (or an exact float/int scalar) and the
// outcome is the same, they read it straight from memory instead.
#pragma once

#include "runtime/numpy_api.hpp"
#include "state/orbel/kernels.hpp"
#include "runtime/runtime.hpp"

namespace qv::orbel {

// The module frame (module.cpp): the executed module and the assertions flag.
extern ModuleFrame frame;

// Error policy of the in-module kernels: the caller holds the lock.
struct HeldErrors {
    static bool pending() noexcept { return PyErr_Occurred() != nullptr; }
    static void traceback(const char* function) noexcept { add_traceback_held(function); }
};

// Module global `name`, falling back to the builtins like a name lookup in
// the module's own code; NameError "name '<name>' is not defined".
Ref module_global(const char* name);
// numpy.<name> through the module global `numpy`.
Ref numpy_attr(const char* name);
// Attribute by name (new reference or null).
Ref attr(PyObject* obj, const char* name);
// obj[index] for an integer index.
Ref item(PyObject* obj, Py_ssize_t index);
// obj[i, j].
Ref item2(PyObject* obj, Py_ssize_t i, Py_ssize_t j);
// Convert through the float protocol; -1 with the TypeError pending.
int to_double(PyObject* obj, double* out);
// obj converted to an index integer.
int to_index(PyObject* obj, Py_ssize_t* out);

// isinstance(x, numbers.Real), with the module global `numbers` and its
// `Real` looked up at the first test of a call.  An exact float or int
// skips the lookups while both are known to be the standard module and
// class (see entry_support.cpp).  1, 0, or -1.
class RealTest {
public:
    int operator()(PyObject* x);

private:
    Ref real_;
};

// At import, after the module body bound `numbers`: remember the standard
// module and its Real, and start watching for changes to either.
int remember_standard_numbers(PyObject* module, PyObject* numbers);

// Python truth of `a == b`; `a == b == c` as a chained comparison.
// 1, 0, or -1.
int equal(PyObject* a, PyObject* b);
int equal(PyObject* a, PyObject* b, PyObject* c);
// Raise AssertionError without a message unless `truth` is 1; passes -1 on.
int require(int truth);
// A constant Python int (borrowed, immortal small ints).
PyObject* small_int(long value);

// `x.ndim == 1`, read directly from an exact ndarray.
int ndim_is_one(PyObject* x);
// `x.shape[axis]` as an object.
Ref shape_item(PyObject* x, Py_ssize_t axis);
// `x.shape[axis]` as an index integer.
int shape_at(PyObject* x, Py_ssize_t axis, Py_ssize_t* out);

// An exact ndarray with native byte order and a real dtype (bool, integer,
// float32, float64): its elements can be read from memory with the same
// result as float(x[i]).
PyArrayObject* real_array(PyObject* x, int ndim);
using Load = double (*)(const char*);
Load load_for(int type_num);

// IndexError of an out-of-range write into a result view.
void raise_out_of_bounds(int axis);

// One argument of an element loop: the doubles it supplies for i = 0, 1, ...
struct Source {
    enum class Kind {
        memory,  // 1-D real ndarray read from memory
        item,    // array-like read by item access and the float protocol
        number,  // scalar converted again for every element
        exact,   // natively convertible scalar, converted once when first needed
    };
    Kind kind = Kind::item;
    PyObject* object = nullptr;  // borrowed; outlives the loop
    const char* data = nullptr;
    Py_ssize_t stride = 0;
    Py_ssize_t length = 0;
    Load load = nullptr;
    bool is_double = false;
    bool converted = false;
    double value = 0.0;

    static Source array(PyObject* obj);
    static Source scalar(PyObject* obj);

    // True when elements 0 .. n-1 are float64 values in memory.
    bool doubles_for(Py_ssize_t n) const { return kind == Kind::memory && is_double && n <= length; }
    // Fetching runs no Python code (memory reads, exact scalars).
    bool runs_no_python() const { return kind == Kind::memory || kind == Kind::exact; }
    // Read an array source by item access from now on.
    void by_item() {
        if (kind == Kind::memory) kind = Kind::item;
    }
    // Convert an exact scalar now (before a loop that cannot fail otherwise).
    int prepare();
    int fetch(Py_ssize_t i, double* out);
};

using Impl = PyObject* (*)(Function* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

namespace entry {
extern const Impl orp_from_sma, sma_from_orp, mnm_from_sma, sma_from_mnm;
extern const Impl eca_from_mea, mea_from_eca, eca_from_tra, tra_from_eca, tra_from_mea, mea_from_tra;
extern const Impl orbel_from_sv, sv_from_orbel;
}  // namespace entry

}  // namespace qv::orbel
