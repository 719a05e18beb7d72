// Typed views over buffers, checked the way typed memoryviews check them.
//
// Entry points take views on NumPy arrays they allocate or receive: a 1-D or
// 2-D view of doubles, or a 1-D view of fixed-layout records.  A buffer of
// another element type or dimension count raises ValueError
// ("Buffer dtype mismatch, expected 'double' but got 'long'",
// "Buffer has wrong number of dimensions (expected 1, got 2)").
#pragma once

#include <cstddef>

#include "runtime/ref.hpp"
#include "runtime/unaligned.hpp"

namespace qv {

// Element types a view can ask for.
struct ElementType {
    const char* name;      // shown in messages: "double", "ORBEL_t"
    std::size_t itemsize;  // bytes per element
    int doubles;           // number of double fields (1 for a scalar double)
};

inline constexpr ElementType element_double{"double", sizeof(double), 1};

class BufferView {
public:
    BufferView() = default;
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;
    ~BufferView() { release(); }

    // Acquire `obj`'s buffer as an `ndim`-dimensional view of `type`;
    // -1 with the exception pending.
    int acquire(PyObject* obj, const ElementType& type, int ndim, bool writable);
    void release();

    char* data() const { return static_cast<char*>(buf_.buf); }
    Py_ssize_t shape(int i) const { return buf_.shape[i]; }
    Py_ssize_t stride(int i) const { return buf_.strides[i]; }
    // Address of element i (or [i, j]).  The buffer may sit at any byte, so
    // read and write elements with load()/store(), not through the pointer.
    template <class T = char>
    T* at(Py_ssize_t i) const { return reinterpret_cast<T*>(data() + i * stride(0)); }
    template <class T = char>
    T* at(Py_ssize_t i, Py_ssize_t j) const {
        return reinterpret_cast<T*>(data() + i * stride(0) + j * stride(1));
    }
    template <class T>
    T load(Py_ssize_t i) const { return load_unaligned<T>(at(i)); }
    template <class T>
    void store(Py_ssize_t i, T value) const { store_unaligned<T>(at(i), value); }
    template <class T>
    void store(Py_ssize_t i, Py_ssize_t j, T value) const { store_unaligned<T>(at(i, j), value); }

private:
    Py_buffer buf_{};
    bool held_ = false;
};

}  // namespace qv
