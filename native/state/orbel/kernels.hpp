// Kernel arithmetic of quorvane.state.orbel, shared by the exported kernels
// (kernels.cpp) and the module's Python entry points.  Python-free.
//
// The kernels that can see a Python exception are templates over an error
// policy `Errors` with two static members:
//   bool pending();                  is a Python exception pending?
//   void traceback(const char* fn);  add a traceback entry for `fn`
// and those that take an angle from atan2_asymmetric over an angle policy
// `Angle` (default BoundAngle, the function orbel binds from misc) with
//   double atan2(double y, double x);  the angle in [0, 2*pi)
// so that other modules bind the same function into their own namespace.
// The exported kernels use ExportedErrors (takes the interpreter lock for the
// test, so they may be called without it); the entry points, which hold the
// lock, use a policy that asks the interpreter directly.  Both instantiate the
// same arithmetic, so their results are bit-identical.
//
// The order of operations below is part of the contract: it fixes the last
// bit of every result (the build keeps floating-point contraction off).
#pragma once

#include <cmath>
#include <limits>

#include "datamodel/structured/structured.hpp"
#include "mathtools/arqel/arqel.hpp"
#include "runtime/kernel_errors.hpp"
#include "siblings/mathtools/misc/misc.hpp"
#include "state/orbel/orbel.hpp"
#include "state/orbel/pairs.hpp"

namespace qv::orbel {

// Functions bound from other modules at import; read-only afterwards.
namespace bound {
extern misc::Atan2Asymmetric* atan2_asymmetric;
extern arqel::Dot* dot;
extern arqel::VecVecVec* cross;
extern arqel::Norm* norm;
extern arqel::Normalize* normalize;
}  // namespace bound

// The angle function orbel binds from misc at import.
struct BoundAngle {
    static double atan2(double y, double x) { return bound::atan2_asymmetric(y, x); }
};

// Vector kernels for the state-vector conversion: the ones bound from arqel
// at import, for the exported kernel and the entry points alike, so that
// whatever the bound kernels compute (and any exception they leave pending)
// is what every caller gets.  They are foreign code: callers test for a
// pending exception after each call.
struct BoundVectors {
    static constexpr bool may_raise = true;
    static void cross(double* a, double* b, double* c) { bound::cross(a, b, c); }
    static double dot(double* a, double* b) { return bound::dot(a, b); }
    static double norm(double* a) { return bound::norm(a); }
    static void normalize(double* a, double* u) { bound::normalize(a, u); }
};
// arqel's arithmetic inline (the header definitions, the code arqel
// exports), for native code that needs the vector operations without the
// calls; the state-vector kernels do not use it.
struct InlineVectors {
    static constexpr bool may_raise = false;
    static void cross(double* a, double* b, double* c) { arqel::cross(a, b, c); }
    static double dot(double* a, double* b) { return arqel::dot(a, b); }
    static double norm(double* a) { return arqel::norm(a); }
    static void normalize(double* a, double* u) { arqel::normalize_values(a, u); }
};

struct ExportedErrors {
    static bool pending() noexcept { return error_pending(); }
    static void traceback(const char* function) noexcept { add_traceback(function); }
};

namespace inl {

inline constexpr double pi = 3.141592653589793;
inline constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// ---------------------------------------------------------------- size and shape

inline double pge_from_sma_ecc(double sma, double ecc, double Re) { return (1.0 - ecc) * sma - Re; }
inline double apg_from_sma_ecc(double sma, double ecc, double Re) { return (ecc + 1.0) * sma - Re; }
inline double sma_from_pge_apg(double pge, double apg, double Re) { return (apg + pge) * 0.5 + Re; }
inline double sma_from_ecc_pge(double ecc, double pge, double Re) { return (Re + pge) / (1.0 - ecc); }
inline double sma_from_ecc_apg(double ecc, double apg, double Re) { return (Re + apg) / (ecc + 1.0); }
inline double ecc_from_pge_apg(double pge, double apg, double Re) { return (apg - pge) / (((pge + apg) + Re) + Re); }
inline double ecc_from_sma_pge(double sma, double pge, double Re) { return 1.0 - (Re + pge) / sma; }
inline double ecc_from_sma_apg(double sma, double apg, double Re) { return (Re + apg) / sma - 1.0; }

// ---------------------------------------------------------------- period and mean motion

// Written over T = double and T = Pair (two lanes, pairs.hpp): the same
// operations in the same order, so both give the same bits.
template <class T>
inline T mnm_from_sma(T sma, T GM) {
    using std::sqrt;
    return sqrt(GM / sma) / sma;
}
template <class T>
inline T orp_from_sma(T sma, T GM) {
    using std::sqrt;
    return (_2pi * sma) * sqrt(sma / GM);
}
inline double sma_from_mnm(double mnm, double GM) { return std::cbrt((GM / mnm) / mnm); }
inline double sma_from_orp(double orp, double GM) { return std::cbrt((orp * ((GM * orp) / _2pi)) / _2pi); }

// ---------------------------------------------------------------- anomalies

inline double mea_from_eca(double eca, double ecc) { return eca - std::sin(eca) * ecc; }

// Newton-Raphson on Kepler's equation M = E - e sin E.  The step limit keeps
// the solver from running forever where double arithmetic never meets the
// tolerance (e.g. near e = 1 with large |M|); inputs that converge within it
// get exactly the value of the unbounded iteration.
inline double eca_from_mea(double mea, double ecc) {
    if (mea == 0.0 || mea == pi || ecc == 0.0) return mea;
    // Hyperbolic and parabolic eccentricities have no elliptical solution.
    if (ecc >= 1.0) return nan;
    constexpr double rtol = 1e-07;
    double eca = mea < pi ? mea + ecc : mea - ecc;
    for (long step = 0; step < kepler_max_steps; ++step) {
        double s, c;
        ::sincos(eca, &s, &c);
        double increment = ((mea - eca) + ecc * s) / (1.0 - ecc * c);
        double error = std::fabs(increment / eca);
        eca = eca + increment;
        if (!(error > rtol)) return eca;  // a NaN error ends the loop as well
    }
    return nan;
}

template <class Errors, class Angle = BoundAngle>
double eca_from_tra(double tra, double ecc) {
    double s, c;
    ::sincos(tra, &s, &c);
    double eca = Angle::atan2(std::sqrt(1.0 - ecc * ecc) * s, c + ecc);
    if (Errors::pending()) {
        Errors::traceback("quorvane.state.orbel.c_eca_from_tra");
        return -1.0;
    }
    return eca;
}

template <class Errors, class Angle = BoundAngle>
double tra_from_eca(double eca, double ecc) {
    double s, c;
    ::sincos(eca, &s, &c);
    double tra = Angle::atan2(std::sqrt(1.0 - ecc * ecc) * s, c - ecc);
    if (Errors::pending()) {
        Errors::traceback("quorvane.state.orbel.c_tra_from_eca");
        return -1.0;
    }
    return tra;
}

// The composites report when their reporting step did; that step returns
// -1.0 whenever it reports, so the pending test is needed only then.
template <class Errors>
double tra_from_mea(double mea, double ecc) {
    double tra = tra_from_eca<Errors>(eca_from_mea(mea, ecc), ecc);
    if (tra == -1.0 && Errors::pending()) {
        Errors::traceback("quorvane.state.orbel.c_tra_from_mea");
        return -1.0;
    }
    return tra;
}

template <class Errors>
double mea_from_tra(double tra, double ecc) {
    double eca = eca_from_tra<Errors>(tra, ecc);
    if (eca == -1.0 && Errors::pending()) {
        Errors::traceback("quorvane.state.orbel.c_mea_from_tra");
        return -1.0;
    }
    return mea_from_eca(eca, ecc);
}

}  // namespace inl
}  // namespace qv::orbel
