// What the _catalogue module's sources share: the bound imports, the
// conversion environment and the scratch memory of one call.
#pragma once

#include <cstddef>

#include "propagators/analytical/sgp4/catalogue/convert.hpp"
#include "runtime/ref.hpp"

namespace qv::catalogue {

inline constexpr const char* module_path = "quorvane.propagators.analytical.sgp4._catalogue";

// Bound at import, read-only afterwards.
struct Bound {
    PyTypeObject* Earth;
    double *deg, *rev, *day;
    Kernel2 *sma_from_mnm, *orp_from_sma, *eca_from_mea;
    Kernel3 *pge_from_sma_ecc, *apg_from_sma_ecc;
};
extern Bound bound;

// The conversion environment of one call: kernels and units as bound,
// Earth.GM and Earth.Re read now (as the record reads them at each
// construction).  -1 with the exception pending.
int environment(Environment* env, bool strict);

// Scratch memory of one call from the interpreter's raw allocator: usable
// without the interpreter lock, counted by tracemalloc like the arrays, and
// for large blocks advised to use huge pages (as NumPy does for large
// arrays), so filling them costs a few page faults rather than one per 4 KiB.
void* scratch_allocate(std::size_t bytes) noexcept;
void scratch_free(void* pointer) noexcept;

template <class T>
class Scratch {
public:
    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() { scratch_free(data_); }
    // False when memory runs out (no exception set: callers may not hold the lock).
    bool allocate(std::size_t n) noexcept {
        scratch_free(data_);
        data_ = static_cast<T*>(scratch_allocate(n * sizeof(T)));
        return data_ != nullptr;
    }
    T* get() const noexcept { return data_; }
    T& operator[](std::size_t i) const noexcept { return data_[i]; }

private:
    T* data_ = nullptr;
};

// Functions of the module, defined in tables.cpp and hooks.cpp.
int add_table_functions(PyObject* module);
int add_hook_functions(PyObject* module);

}  // namespace qv::catalogue
