// The exported kernels of quorvane.state.orbel: the addresses published in
// __pyx_capi__.  Each is the shared arithmetic of kernels.hpp or
// state_vector.hpp; those that can see a Python exception use the policy
// that takes the interpreter lock for the test, so they may be called with
// or without it.
#include "state/orbel/kernels.hpp"
#include "state/orbel/orbel.hpp"
#include "state/orbel/state_vector.hpp"

namespace qv::orbel {

double _2pi = 0.0;

namespace bound {
misc::Atan2Asymmetric* atan2_asymmetric = nullptr;
arqel::Dot* dot = nullptr;
arqel::VecVecVec* cross = nullptr;
arqel::Norm* norm = nullptr;
arqel::Normalize* normalize = nullptr;
}  // namespace bound

using E = ExportedErrors;

double c_pge_from_sma_ecc(double const sma, double const ecc, double const Re) { return inl::pge_from_sma_ecc(sma, ecc, Re); }
double c_apg_from_sma_ecc(double const sma, double const ecc, double const Re) { return inl::apg_from_sma_ecc(sma, ecc, Re); }
double c_sma_from_pge_apg(double const pge, double const apg, double const Re) { return inl::sma_from_pge_apg(pge, apg, Re); }
double c_sma_from_ecc_pge(double const ecc, double const pge, double const Re) { return inl::sma_from_ecc_pge(ecc, pge, Re); }
double c_sma_from_ecc_apg(double const ecc, double const apg, double const Re) { return inl::sma_from_ecc_apg(ecc, apg, Re); }
double c_ecc_from_pge_apg(double const pge, double const apg, double const Re) { return inl::ecc_from_pge_apg(pge, apg, Re); }
double c_ecc_from_sma_pge(double const sma, double const pge, double const Re) { return inl::ecc_from_sma_pge(sma, pge, Re); }
double c_ecc_from_sma_apg(double const sma, double const apg, double const Re) { return inl::ecc_from_sma_apg(sma, apg, Re); }

double c_mnm_from_sma(double const sma, double GM) { return inl::mnm_from_sma(sma, GM); }
double c_orp_from_sma(double const sma, double GM) { return inl::orp_from_sma(sma, GM); }
double c_sma_from_mnm(double const mnm, double GM) { return inl::sma_from_mnm(mnm, GM); }
double c_sma_from_orp(double const orp, double GM) { return inl::sma_from_orp(orp, GM); }

double c_mea_from_eca(double const eca, double const ecc) { return inl::mea_from_eca(eca, ecc); }
double c_eca_from_mea(double const mea, double const ecc) { return inl::eca_from_mea(mea, ecc); }
double c_eca_from_tra(double const tra, double const ecc) { return inl::eca_from_tra<E>(tra, ecc); }
double c_tra_from_eca(double const eca, double const ecc) { return inl::tra_from_eca<E>(eca, ecc); }
double c_tra_from_mea(double const mea, double const ecc) { return inl::tra_from_mea<E>(mea, ecc); }
double c_mea_from_tra(double const tra, double const ecc) { return inl::mea_from_tra<E>(tra, ecc); }

void c_orbel_from_sv(double* r, double* v, double const GM, ORBEL_t* orbel) { inl::orbel_from_sv<E>(r, v, GM, orbel); }
void c_sv_from_orbel(ORBEL_t const orbel, double const GM, double* r, double* v) { inl::sv_from_orbel(orbel, GM, r, v); }

}  // namespace qv::orbel
