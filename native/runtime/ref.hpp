// Owned references to Python objects.
//
// Every module holds the objects it creates in a Ref, so error paths are plain
// early returns and no function carries a ladder of Py_DECREF calls.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace qv {

class Ref {
public:
    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}
    ~Ref() { Py_XDECREF(p_); }

    // Take ownership of a new reference (the usual result of a C API call).
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    // Add a reference to a borrowed object.
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }

    Ref(const Ref& o) noexcept : p_(o.p_) { Py_XINCREF(p_); }
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }

    PyObject* get() const noexcept { return p_; }
    // Hand the reference to the caller (for returning to Python).
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    // A new reference to the same object, leaving this one in place.
    PyObject* new_ref() const noexcept {
        Py_XINCREF(p_);
        return p_;
    }
    void reset(PyObject* stolen = nullptr) noexcept {
        PyObject* old = std::exchange(p_, stolen);
        Py_XDECREF(old);
    }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

// Set *slot to a new reference, releasing what it held (for object fields).
inline void replace(PyObject** slot, PyObject* new_reference) noexcept {
    PyObject* old = *slot;
    *slot = new_reference;
    Py_XDECREF(old);
}

// Keep a new reference (null: a failed call) in a process-wide slot,
// releasing what the slot held, so a retried import replaces it.
template <class T>
int keep(T** slot, T* new_reference) noexcept {
    if (!new_reference) return -1;
    replace(reinterpret_cast<PyObject**>(slot), reinterpret_cast<PyObject*>(new_reference));
    return 0;
}

}  // namespace qv
