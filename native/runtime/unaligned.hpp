// Loads and stores at any address.
//
// Buffers that callers hand in may start at any byte (numpy.frombuffer with
// an offset, a packed record dtype), so memory of another object is never
// read or written through a cast `double*`: an 8-byte copy compiles to the
// same single move and is defined for every alignment.  Python-free.
#pragma once

#include <cstring>

namespace qv {

template <class T>
inline T load_unaligned(const char* p) noexcept {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <class T>
inline void store_unaligned(char* p, T value) noexcept {
    std::memcpy(p, &value, sizeof value);
}

}  // namespace qv
