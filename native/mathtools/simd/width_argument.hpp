// The `width=` argument of Python-facing layers that offer a choice of lane
// width (tests and benchmarks): None is the widest detect() allows; 1, 4 or
// 8 must be one of the widths available now.
#pragma once

#include <cstddef>
#include <cstdio>

#include "mathtools/simd/dispatch.hpp"
#include "runtime/args.hpp"
#include "runtime/ref.hpp"

namespace qv::simd {
inline namespace QV_SIMD_ISA {

// "1, 4, 8": the widths available now.
inline void available_widths_text(char* text, std::size_t size) {
    int used = 0;
    for (int w : {1, 4, 8}) {
        if (width_available(w)) used += std::snprintf(text + used, size - used, used ? ", %d" : "%d", w);
    }
}

// 0 and *out set, or -1 with TypeError ("width must be None or an int, not
// str") or ValueError ("width must be 1, 4 or 8, got 3"; "width 8 is not
// available here (widths: 1, 4)").  Holds the interpreter lock.
inline int width_argument(PyObject* value, Isa* out) {
    long long w = 0;
    int overflow = 0;
    const int given = optional_int_argument(value, "width", &w, &overflow);
    if (given <= 0) {
        if (given == 0) *out = detect();
        return given;
    }
    if (overflow || (w != 1 && w != 4 && w != 8)) {
        PyErr_Format(PyExc_ValueError, "width must be 1, 4 or 8, got %S", value);
        return -1;
    }
    if (!width_available(static_cast<int>(w))) {
        char text[16] = "";
        available_widths_text(text, sizeof text);
        PyErr_Format(PyExc_ValueError, "width %lld is not available here (widths: %s)", w, text);
        return -1;
    }
    *out = static_cast<Isa>(w);
    return 0;
}

}  // namespace QV_SIMD_ISA
}  // namespace qv::simd
