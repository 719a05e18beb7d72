// State vector <-> classical elements, shared by the exported kernels and the
// entry points.  Python-free; see kernels.hpp for the error policies.
#pragma once

#include <cmath>
#include <limits>

#include "state/orbel/kernels.hpp"

namespace qv::orbel::inl {

// Elements of the state (r, v) into *orbel.  Degenerate geometries follow
// fixed conventions: no angular momentum gives seven NaN fields; ecc = 1 an
// infinite sma; inc = 0 (prograde equatorial only) raa = 0 with arp measured
// from the x axis; ecc = 0 arp = 0 with tra measured from the node (or from
// the x axis when also equatorial).
//
// After every call of a bound function the policy is asked whether a Python
// exception is pending; if so the kernel adds its traceback entry and
// returns, the record keeping the fields stored so far.  A field is stored
// only once the calls it depends on have succeeded.
template <class Errors>
void orbel_from_sv(double* r, double* v, double const GM, ORBEL_t* orbel) {
    auto failed = [] {
        if (!Errors::pending()) return false;
        Errors::traceback("quorvane.state.orbel.c_orbel_from_sv");
        return true;
    };
    using V = BoundVectors;
    double l[3];
    V::cross(r, v, l);
    if (failed()) return;
    double l2 = V::dot(l, l);
    if (failed()) return;
    if (l2 == 0.0) {
        orbel->ecc = orbel->sma = orbel->inc = orbel->raa = orbel->arp = orbel->tra = orbel->slr = nan;
        return;
    }
    double l_norm = std::sqrt(l2);
    double inc = std::acos(l[2] / l_norm);
    orbel->inc = inc;

    double u_r[3];
    V::normalize(r, u_r);
    if (failed()) return;
    double e[3];
    V::cross(v, l, e);
    if (failed()) return;
    for (int i = 0; i < 3; ++i) e[i] = e[i] / GM - u_r[i];
    double ecc = V::norm(e);
    if (failed()) return;
    double slr = l2 / GM;
    orbel->slr = slr;
    orbel->ecc = ecc;
    orbel->sma = ecc != 1.0 ? slr / (1.0 - ecc * ecc) : std::numeric_limits<double>::infinity();

    // The node direction is (-l_y, l_x, 0).
    double raa = 0.0;
    if (inc != 0.0) {
        raa = bound::atan2_asymmetric(l[0], -l[1]);
        if (failed()) return;
    }
    orbel->raa = raa;
    double u_n[3];
    ::sincos(raa, &u_n[1], &u_n[0]);
    u_n[2] = 0.0;

    double u_e[3];
    if (ecc == 0.0) {
        orbel->arp = 0.0;
        for (int i = 0; i < 3; ++i) u_e[i] = u_n[i];
    } else {
        double u_q[3];
        V::cross(l, u_n, u_q);
        if (failed()) return;
        for (int i = 0; i < 3; ++i) u_q[i] = u_q[i] / l_norm;
        double y = V::dot(u_q, e);
        if (failed()) return;
        double x = V::dot(u_n, e);
        if (failed()) return;
        double arp = bound::atan2_asymmetric(y, x);
        if (failed()) return;
        orbel->arp = arp;
        V::normalize(e, u_e);
        if (failed()) return;
    }

    double u_p[3];
    V::cross(l, u_e, u_p);
    if (failed()) return;
    for (int i = 0; i < 3; ++i) u_p[i] = u_p[i] / l_norm;
    double y = V::dot(u_p, r);
    if (failed()) return;
    double x = V::dot(u_e, r);
    if (failed()) return;
    double tra = bound::atan2_asymmetric(y, x);
    if (failed()) return;
    orbel->tra = tra;
}

// Perifocal position slr / (1 + ecc cos tra) (cos tra, sin tra, 0) and
// velocity sqrt(GM / slr) (-sin tra, ecc + cos tra, 0), rotated into the
// inertial frame by R3(-raa) R1(-inc) R3(-arp).  sma is not read.
inline void sv_from_orbel(ORBEL_t const orbel, double const GM, double* r, double* v) {
    double sin_inc, cos_inc, sin_raa, cos_raa, sin_arp, cos_arp, sin_tra, cos_tra;
    ::sincos(orbel.inc, &sin_inc, &cos_inc);
    ::sincos(orbel.raa, &sin_raa, &cos_raa);
    ::sincos(orbel.arp, &sin_arp, &cos_arp);
    ::sincos(orbel.tra, &sin_tra, &cos_tra);
    double semilatus_rectum = orbel.slr;
    double r_norm = semilatus_rectum / (cos_tra * orbel.ecc + 1.0);
    double v_quasi_norm = std::sqrt(GM / semilatus_rectum);
    // First two columns of the rotation.
    double P[3] = {cos_raa * cos_arp - sin_raa * sin_arp * cos_inc, sin_raa * cos_arp + cos_raa * sin_arp * cos_inc,
                   sin_arp * sin_inc};
    double Q[3] = {-cos_raa * sin_arp - sin_raa * cos_arp * cos_inc, -sin_raa * sin_arp + cos_raa * cos_arp * cos_inc,
                   cos_arp * sin_inc};
    for (int i = 0; i < 3; ++i) r[i] = r_norm * (cos_tra * P[i] + sin_tra * Q[i]);
    for (int i = 0; i < 3; ++i) v[i] = v_quasi_norm * (-sin_tra * P[i] + (orbel.ecc + cos_tra) * Q[i]);
}

}  // namespace qv::orbel::inl
