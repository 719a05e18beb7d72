// Docstrings of the Python functions of quorvane.state.orbel (NumPy layout;
// the first line is the call signature).
#pragma once

namespace qv::orbel::doc {

inline constexpr const char* orp_from_sma =
    "orp_from_sma(sma: double | ndarray[double], GM: double = Earth.GM) -> double | ndarray[double]\n"
    "\n"
    "Compute orbital period(s) from semimajor axis (or axes).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "sma : float or ndarray of shape (N,)\n"
    "    Semimajor axis (or axes), in metres.\n"
    "GM : float, optional\n"
    "    Gravitational parameter of the central body, in m^3/s^2 (default: Earth.GM).\n"
    "\n"
    "Returns\n"
    "-------\n"
    "float or ndarray of shape (N,)\n"
    "    Orbital period(s), in seconds.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "ORP = 2\xcf\x80 * a * sqrt(a / GM)\n";

inline constexpr const char* sma_from_orp =
    "sma_from_orp(orp: double | ndarray[double], GM: double = Earth.GM) -> double | ndarray[double]\n"
    "\n"
    "Compute semimajor axis (or axes) from orbital period(s).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "orp : float or ndarray of shape (N,)\n"
    "    Orbital period(s), in seconds.\n"
    "GM : float, optional\n"
    "    Gravitational parameter of the central body, in m^3/s^2 (default: Earth.GM).\n"
    "\n"
    "Returns\n"
    "-------\n"
    "float or ndarray of shape (N,)\n"
    "    Semimajor axis (or axes), in metres.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "SMA = [GM * (ORP / 2\xcf\x80)^2]^{1/3}\n";

inline constexpr const char* mnm_from_sma =
    "mnm_from_sma(sma: double | ndarray[double], GM: double = Earth.GM) -> double | ndarray[double]\n"
    "\n"
    "Compute mean motion(s) from semimajor axis (or axes).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "sma : float or ndarray of shape (N,)\n"
    "    Semimajor axis (or axes), in metres.\n"
    "GM : float, optional\n"
    "    Gravitational parameter of the central body, in m^3/s^2 (default: Earth.GM).\n"
    "\n"
    "Returns\n"
    "-------\n"
    "float or ndarray of shape (N,)\n"
    "    Mean motion(s), in radians/second.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "MNM = sqrt(GM / a) / a\n";

inline constexpr const char* sma_from_mnm =
    "sma_from_mnm(mnm: double | ndarray[double], GM: double = Earth.GM) -> double | ndarray[double]\n"
    "\n"
    "Compute semimajor axis (or axes) from mean motion(s).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "mnm : float or ndarray of shape (N,)\n"
    "    Mean motion(s), in radians/second.\n"
    "GM : float, optional\n"
    "    Gravitational parameter of the central body, in m^3/s^2 (default: Earth.GM).\n"
    "\n"
    "Returns\n"
    "-------\n"
    "float or ndarray of shape (N,)\n"
    "    Semimajor axis (or axes), in metres.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "a = [GM / mnm^2]^{1/3}\n";

#define QV_ORBEL_ANOMALY_PARAMS(first, first_text)                \
    "Parameters\n"                                                \
    "----------\n" first " : float or ndarray of shape (N,)\n"     \
    "    " first_text ", in radians.\n"                           \
    "ecc : float or ndarray of shape (N,)\n"                      \
    "    Eccentricity (dimensionless), 0 <= ecc < 1.\n"           \
    "\n"

inline constexpr const char* eca_from_mea =
    "eca_from_mea(mea: double | ndarray[double], ecc: double | ndarray[double]) -> double | ndarray[double]\n"
    "\n"
    "Compute the eccentric anomaly from the mean anomaly.\n"
    "\n" QV_ORBEL_ANOMALY_PARAMS("mea", "Mean anomaly")
    "Returns\n"
    "-------\n"
    "float or ndarray of shape (N,)\n"
    "    Eccentric anomaly, in radians.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "Accepts scalars or arrays.\n"
    "Kepler's equation MEA = ECA - e * sin(ECA) is solved by Newton-Raphson iteration\n"
    "(relative step tolerance 1e-07).  An eccentricity of 1 or more, or an iteration\n"
    "that does not converge within 1,000,000 steps, gives NaN.\n";

inline constexpr const char* mea_from_eca =
    "mea_from_eca(eca: double | ndarray[double], ecc: double | ndarray[double]) -> double | ndarray[double]\n"
    "\n"
    "Compute the mean anomaly from the eccentric anomaly.\n"
    "\n" QV_ORBEL_ANOMALY_PARAMS("eca", "Eccentric anomaly")
    "Returns\n"
    "-------\n"
    "float or ndarray of shape (N,)\n"
    "    Mean anomaly, in radians.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "Accepts scalars or arrays.\n"
    "Uses the analytical relation: MEA = ECA - e * sin(ECA).\n";

inline constexpr const char* eca_from_tra =
    "eca_from_tra(tra: double | ndarray[double], ecc: double | ndarray[double]) -> double | ndarray[double]\n"
    "\n"
    "Compute the eccentric anomaly from the true anomaly.\n"
    "\n" QV_ORBEL_ANOMALY_PARAMS("tra", "True anomaly")
    "Returns\n"
    "-------\n"
    "float or ndarray of shape (N,)\n"
    "    Eccentric anomaly, in radians.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "Accepts scalars or arrays.\n"
    "ECA = atan2(sqrt(1 - e^2) * sin(TRA), cos(TRA) + e).\n";

inline constexpr const char* tra_from_eca =
    "tra_from_eca(eca: double | ndarray[double], ecc: double | ndarray[double]) -> double | ndarray[double]\n"
    "\n"
    "Compute the true anomaly from the eccentric anomaly.\n"
    "\n" QV_ORBEL_ANOMALY_PARAMS("eca", "Eccentric anomaly")
    "Returns\n"
    "-------\n"
    "float or ndarray of shape (N,)\n"
    "    True anomaly, in radians.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "Accepts scalars or arrays.\n"
    "TRA = atan2(sqrt(1 - e^2) * sin(ECA), cos(ECA) - e).\n";

inline constexpr const char* tra_from_mea =
    "tra_from_mea(mea: double | ndarray[double], ecc: double | ndarray[double]) -> double | ndarray[double]\n"
    "\n"
    "Compute the true anomaly from the mean anomaly.\n"
    "\n" QV_ORBEL_ANOMALY_PARAMS("mea", "Mean anomaly")
    "Returns\n"
    "-------\n"
    "float or ndarray of shape (N,)\n"
    "    True anomaly, in radians.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "Accepts scalars or arrays.\n"
    "Composite function: the eccentric anomaly is computed first (eca_from_mea),\n"
    "then the true anomaly from it (tra_from_eca).\n";

inline constexpr const char* mea_from_tra =
    "mea_from_tra(tra: double | ndarray[double], ecc: double | ndarray[double]) -> double | ndarray[double]\n"
    "\n"
    "Compute the mean anomaly from the true anomaly.\n"
    "\n" QV_ORBEL_ANOMALY_PARAMS("tra", "True anomaly")
    "Returns\n"
    "-------\n"
    "float or ndarray of shape (N,)\n"
    "    Mean anomaly, in radians.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "Accepts scalars or arrays.\n"
    "Composite function: the eccentric anomaly is computed first (eca_from_tra),\n"
    "then the mean anomaly from it (mea_from_eca).\n";

#undef QV_ORBEL_ANOMALY_PARAMS

inline constexpr const char* orbel_from_sv =
    "orbel_from_sv(r: ndarray[double], v: ndarray[double], double GM: float = Earth.GM) -> ndarray[ORBEL_dt]\n"
    "\n"
    "Convert Cartesian state vector(s) to classical orbital elements (ORBELs).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "r : ndarray of shape (3,) or (N, 3)\n"
    "    Position vector(s) in an inertial frame, in metres.\n"
    "v : ndarray of shape (3,) or (N, 3)\n"
    "    Velocity vector(s) in the same inertial frame, in metres/second.\n"
    "GM : float, optional\n"
    "    Gravitational parameter of the central body, in m^3/s^2 (default: Earth.GM).\n"
    "\n"
    "Returns\n"
    "-------\n"
    "ndarray of ORBEL_dt, shape (N,)\n"
    "    One record per state, with the fields\n"
    "    ecc : eccentricity (dimensionless)\n"
    "    sma : semimajor axis, in metres (+inf for a parabolic orbit, negative for a hyperbolic one)\n"
    "    inc : inclination, in radians\n"
    "    raa : right ascension of the ascending node, in radians\n"
    "    arp : argument of periapsis, in radians\n"
    "    tra : true anomaly, in radians\n"
    "    slr : semi-latus rectum, in metres\n"
    "\n"
    "Notes\n"
    "-----\n"
    "Accepts both single vectors and arrays of vectors.\n"
    "A single state gives an array of one record.  Degenerate orbits follow fixed\n"
    "conventions: equatorial (inc = 0) orbits have raa = 0 and arp measured from the\n"
    "x axis; circular (ecc = 0) orbits have arp = 0 and tra measured from the node\n"
    "(from the x axis when also equatorial); a state without angular momentum gives\n"
    "NaN in every field.\n";

inline constexpr const char* sv_from_orbel =
    "sv_from_orbel(orbel: ndarray[ORBEL_dt], double GM: float = Earth.GM) -> tuple[ndarray[double], 2]\n"
    "\n"
    "Convert classical orbital elements (ORBELs) to Cartesian state vectors.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "orbel : ndarray of ORBEL_dt, shape (N,)\n"
    "    Element records (ecc, sma, inc, raa, arp, tra, slr); lengths in metres,\n"
    "    angles in radians.  Any stride.\n"
    "GM : float, optional\n"
    "    Gravitational parameter of the central body, in m^3/s^2 (default: Earth.GM).\n"
    "\n"
    "Returns\n"
    "-------\n"
    "r : ndarray of shape (N, 3)\n"
    "    Position vectors, in metres.\n"
    "v : ndarray of shape (N, 3)\n"
    "    Velocity vectors, in metres/second.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "Applies the analytic conversion for each input element.\n"
    "The state is computed from ecc, slr and the four angles; sma is not read.\n";

}  // namespace qv::orbel::doc
