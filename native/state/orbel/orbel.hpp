// Native kernels of quorvane.state.orbel, for other native modules.
//
// Other modules do not link against these definitions: they bind the
// addresses published in orbel's __pyx_capi__ by name and signature string,
// using the function types and signature constants below.  All kernels work
// on plain doubles in SI units (m, s, rad, m^3/s^2) and allocate nothing.
//
// Kernels that call the bound angle function atan2_asymmetric follow the
// native error convention: when it leaves a Python exception pending they add
// a traceback entry "quorvane.state.orbel.<kernel>" and return -1.0 (or
// return at once for the void kernels).  Callers test for a pending exception
// after each call.  The others report nothing and give IEEE results for
// degenerate input.
#pragma once

#include <cstddef>
#include <initializer_list>

#include "datamodel/structured/structured.hpp"

namespace qv::orbel {

// ---------------------------------------------------------------- signatures

inline constexpr const char* sig_2pi = "double";
// orp/sma/mnm relations: (value, GM)
inline constexpr const char* sig_period = "double (double const , double)";
// anomalies: (angle, ecc)
inline constexpr const char* sig_anomaly = "double (double const , double const )";
// altitude/shape relations: three doubles
inline constexpr const char* sig_altitude = "double (double const , double const , double const )";

namespace detail {
template <std::size_t N>
struct Text {
    char chars[N]{};
};
constexpr std::size_t length(const char* s) {
    std::size_t n = 0;
    while (s[n]) ++n;
    return n;
}
template <std::size_t N>
constexpr Text<N> join(const char* a, const char* b, const char* c) {
    Text<N> text{};
    std::size_t k = 0;
    for (const char* part : {a, b, c}) {
        for (; *part; ++part) text.chars[k++] = *part;
    }
    return text;
}
inline constexpr const char* from_sv_head = "void (double *, double *, double const , ";
inline constexpr const char* from_sv_tail = " *)";
inline constexpr const char* sv_from_head = "void (";
inline constexpr const char* sv_from_tail = " const , double const , double *, double *)";
inline constexpr std::size_t from_sv_size = length(from_sv_head) + length(structured::orbel_tag) + length(from_sv_tail) + 1;
inline constexpr std::size_t sv_from_size = length(sv_from_head) + length(structured::orbel_tag) + length(sv_from_tail) + 1;
inline constexpr Text<from_sv_size> from_sv_text = join<from_sv_size>(from_sv_head, structured::orbel_tag, from_sv_tail);
inline constexpr Text<sv_from_size> sv_from_text = join<sv_from_size>(sv_from_head, structured::orbel_tag, sv_from_tail);
}  // namespace detail

// "void (double *, double *, double const , struct ORBEL_s *)"
inline constexpr const char* sig_orbel_from_sv = detail::from_sv_text.chars;
// "void (struct ORBEL_s const , double const , double *, double *)"
inline constexpr const char* sig_sv_from_orbel = detail::sv_from_text.chars;

// ---------------------------------------------------------------- types

using PeriodKernel = double(double, double);            // c_orp_from_sma, c_sma_from_orp, c_mnm_from_sma, c_sma_from_mnm
using AnomalyKernel = double(double, double);           // the six anomaly kernels
using AltitudeKernel = double(double, double, double);  // the eight altitude/shape kernels
using OrbelFromSv = void(double*, double*, double, ORBEL_t*);
using SvFromOrbel = void(ORBEL_t, double, double*, double*);

// ---------------------------------------------------------------- kernels

// 2*pi as a double (0x401921FB54442D18), set while the module imports.
extern double _2pi;

// Size and shape: altitudes are radii minus the reference radius Re.
double c_pge_from_sma_ecc(double const sma, double const ecc, double const Re);  // (1 - ecc) sma - Re
double c_apg_from_sma_ecc(double const sma, double const ecc, double const Re);  // (ecc + 1) sma - Re
double c_sma_from_pge_apg(double const pge, double const apg, double const Re);
double c_sma_from_ecc_pge(double const ecc, double const pge, double const Re);
double c_sma_from_ecc_apg(double const ecc, double const apg, double const Re);
double c_ecc_from_pge_apg(double const pge, double const apg, double const Re);
double c_ecc_from_sma_pge(double const sma, double const pge, double const Re);
double c_ecc_from_sma_apg(double const sma, double const apg, double const Re);

// Mean motion (rad/s), period (s) and semi-major axis (m) for GM (m^3/s^2).
double c_mnm_from_sma(double const sma, double GM);
double c_orp_from_sma(double const sma, double GM);
double c_sma_from_mnm(double const mnm, double GM);
double c_sma_from_orp(double const orp, double GM);

// Anomalies (rad).  c_eca_from_mea solves Kepler's equation by Newton-Raphson
// (relative step tolerance 1e-07); it returns NaN for ecc >= 1 and when the
// iteration has not converged within kepler_max_steps steps.
inline constexpr long kepler_max_steps = 1000000;
double c_mea_from_eca(double const eca, double const ecc);
double c_eca_from_mea(double const mea, double const ecc);
double c_eca_from_tra(double const tra, double const ecc);  // reports errors
double c_tra_from_eca(double const eca, double const ecc);  // reports errors
double c_tra_from_mea(double const mea, double const ecc);  // reports errors
double c_mea_from_tra(double const tra, double const ecc);  // reports errors

// Cartesian state (r in m, v in m/s) to elements and back.  c_orbel_from_sv
// reports errors of the bound vector kernels and atan2_asymmetric; the record
// then keeps the fields stored so far.
void c_orbel_from_sv(double* r, double* v, double const GM, ORBEL_t* orbel);
void c_sv_from_orbel(ORBEL_t const orbel, double const GM, double* r, double* v);

}  // namespace qv::orbel
