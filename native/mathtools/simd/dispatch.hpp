// Which lane width runs: what the processor and the operating system
// support, capped by the process-wide setting QUORVANE_SIMD_MAX_WIDTH.
//
// Kernels built per instruction set (cmake: quorvane_isa_sources) are
// called from baseline code after detect() chose one:
//
//     switch (qv::simd::detect()) {
//         case qv::simd::Isa::avx512: qv::mine::avx512::run(...); break;
//         case qv::simd::Isa::avx2:   qv::mine::avx2::run(...);   break;
//         case qv::simd::Isa::baseline: qv::mine::baseline::run(...); break;
//     }
//
// Results never depend on the choice (lanes.hpp), so the cap exists for
// tests and for comparing widths: QUORVANE_SIMD_MAX_WIDTH=1 (or 4, or 8)
// in the environment, or quorvane._testing.lanes._set_max_width(), which
// sets that variable.  It is read at each detect() call, so it reaches every
// extension module of the process and the processes it starts.  Call
// detect() from the binding layer, holding the interpreter lock (it reads
// the environment), and pass the choice down.
#pragma once

#include <cstdlib>
#include <initializer_list>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

// Applies `each(isa)` to every instruction set a kernel is compiled for
// (quorvane_isa_sources): the declarations of a kernel's per-set copies.
#define QV_SIMD_EACH_ISA(each) each(baseline) each(avx2) each(avx512)

namespace qv::simd {

// The instruction sets kernels are built for; the value is the lane count.
enum class Isa : int { baseline = 1, avx2 = 4, avx512 = 8 };

inline namespace QV_SIMD_ISA {

inline constexpr const char* max_width_variable = "QUORVANE_SIMD_MAX_WIDTH";

// The widest instruction set this processor runs with the operating system
// saving its registers (CPUID and XGETBV), found once per module.
inline Isa supported() noexcept {
    static const Isa found = [] {
#if defined(__x86_64__) || defined(__i386__)
        unsigned a, b, c, d;
        if (!__get_cpuid(1, &a, &b, &c, &d)) return Isa::baseline;
        bool osxsave = c >> 27 & 1u, avx = c >> 28 & 1u;
        if (!osxsave || !avx || __get_cpuid_max(0, nullptr) < 7) return Isa::baseline;
        unsigned xcr0_lo, xcr0_hi;
        __asm__ volatile("xgetbv" : "=a"(xcr0_lo), "=d"(xcr0_hi) : "c"(0));
        (void)xcr0_hi;
        bool ymm_saved = (xcr0_lo & 0x6u) == 0x6u;            // SSE and AVX state
        bool zmm_saved = ymm_saved && (xcr0_lo & 0xe0u) == 0xe0u;  // opmask, upper ZMM, ZMM16-31
        __cpuid_count(7, 0, a, b, c, d);
        bool avx2 = b >> 5 & 1u, avx512f = b >> 16 & 1u, avx512dq = b >> 17 & 1u;
        if (zmm_saved && avx2 && avx512f && avx512dq) return Isa::avx512;
        if (ymm_saved && avx2) return Isa::avx2;
#endif
        return Isa::baseline;
    }();
    return found;
}

// The cap from the environment: a positive number of lanes, or 0 for none
// (unset, empty or not a positive integer).
inline int max_width() noexcept {
    const char* text = std::getenv(max_width_variable);
    if (!text || !*text) return 0;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    return *end == '\0' && value > 0 && value <= 1024 ? static_cast<int>(value) : 0;
}

// The widest instruction set that is supported and within the cap.
inline Isa detect() noexcept {
    Isa best = supported();
    int cap = max_width();
    if (cap == 0) return best;
    for (Isa isa : {Isa::avx512, Isa::avx2}) {
        if (static_cast<int>(isa) <= static_cast<int>(best) && static_cast<int>(isa) <= cap) return isa;
    }
    return Isa::baseline;
}

// Of a kernel compiled once per instruction set, the copy for `lanes` (the
// value of detect() a caller was given): 8 AVX-512, 4 AVX2, else baseline.
template <class F>
constexpr F for_width(int lanes, F baseline, F avx2, F avx512) noexcept {
    return lanes == 8 ? avx512 : lanes == 4 ? avx2 : baseline;
}

// True when `width` lanes is one of the widths detect() allows now.
inline bool width_available(int width) noexcept {
    return (width == 1 || width == 4 || width == 8) && width <= static_cast<int>(detect());
}

}  // namespace QV_SIMD_ISA
}  // namespace qv::simd
