// Module frame of quorvane.propagators.analytical.sgp4._catalogue: the
// native half of the columnar catalogue reader.
//
// Start-up binds what the conversions use, the way the duoline module binds
// it: the Earth type (GM and Re are read from it at every call), the unit
// constants deg, rev and day, orbel's kernels that report no errors, and
// misc's angle function for the true anomaly.  The functions (tables.cpp,
// hooks.cpp) are private: the public API is the Python module
// quorvane.propagators.analytical.sgp4.catalogue.
#include "propagators/analytical/sgp4/catalogue/module.hpp"

#include <sys/mman.h>

#include <cstdint>

#include "propagators/analytical/sgp4/tle/numbers.hpp"
#include "runtime/runtime.hpp"
#include "bodies/bodies/bodies.hpp"
#include "siblings/mathtools/misc/misc.hpp"
#include "siblings/units/units/units.hpp"
#include "state/orbel/orbel.hpp"

namespace qv::catalogue {

Bound bound{};

int environment(Environment* env, bool strict) {
    auto read = [](const char* name, double* value) { return bodies::earth_constant(bound.Earth, name, value); };
    env->sma_from_mnm = bound.sma_from_mnm;
    env->orp_from_sma = bound.orp_from_sma;
    env->eca_from_mea = bound.eca_from_mea;
    env->pge_from_sma_ecc = bound.pge_from_sma_ecc;
    env->apg_from_sma_ecc = bound.apg_from_sma_ecc;
    env->deg = *bound.deg;
    env->rev = *bound.rev;
    env->day = *bound.day;
    env->strict = strict;
    return read("GM", &env->GM) < 0 || read("Re", &env->Re) < 0 ? -1 : 0;
}

namespace {

// The whole 2 MiB pages inside a large block are advised to be huge pages,
// as NumPy advises its large arrays.
void* advise_huge_pages(void* block, std::size_t bytes) noexcept {
    constexpr std::uintptr_t huge_page = std::uintptr_t{1} << 21;
    constexpr std::size_t large = std::size_t{1} << 22;
    if (block && bytes >= large) {
        const auto begin = (reinterpret_cast<std::uintptr_t>(block) + huge_page - 1) & ~(huge_page - 1);
        const auto end = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(huge_page - 1);
        if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);  // advice only
    }
    return block;
}

}  // namespace

// The interpreter's raw allocator, so tracemalloc counts the blocks.
void* scratch_allocate(std::size_t bytes) noexcept {
    return advise_huge_pages(PyMem_RawMalloc(bytes ? bytes : 1), bytes);
}

void* scratch_reallocate(void* pointer, std::size_t bytes) noexcept {
    return advise_huge_pages(PyMem_RawRealloc(pointer, bytes ? bytes : 1), bytes);
}

void scratch_free(void* pointer) noexcept { PyMem_RawFree(pointer); }

namespace {

int bind_all() {
    Exporter bodies("quorvane.bodies.bodies");
    if (!bodies || bodies.type(&bound.Earth, "Earth", sizeof(bodies::EarthObject)) < 0) return -1;
    Exporter constants("quorvane.units.units");
    if (!constants || constants.variable(&bound.deg, "deg", units::double_signature) < 0 ||
        constants.variable(&bound.rev, "rev", units::double_signature) < 0 ||
        constants.variable(&bound.day, "day", units::double_signature) < 0) {
        return -1;
    }
    Exporter orbel("quorvane.state.orbel");
    if (!orbel || orbel.kernel(&bound.sma_from_mnm, "c_sma_from_mnm", orbel::sig_period) < 0 ||
        orbel.kernel(&bound.orp_from_sma, "c_orp_from_sma", orbel::sig_period) < 0 ||
        orbel.kernel(&bound.eca_from_mea, "c_eca_from_mea", orbel::sig_anomaly) < 0 ||
        orbel.kernel(&bound.pge_from_sma_ecc, "c_pge_from_sma_ecc", orbel::sig_altitude) < 0 ||
        orbel.kernel(&bound.apg_from_sma_ecc, "c_apg_from_sma_ecc", orbel::sig_altitude) < 0) {
        return -1;
    }
    Exporter misc("quorvane.mathtools.misc.misc");
    return !misc || misc.kernel(&atan2_asymmetric, "atan2_asymmetric", misc::atan2_asymmetric_signature) < 0 ? -1 : 0;
}

int steps(PyObject* module);

ModuleFrame frame{"_catalogue", module_path,
                  "Native half of the columnar catalogue reader: element-set text and OMM values to "
                  "columns, and columns back to two-line text.",
                  steps, true};

int steps(PyObject* module) {
    if (!tle::init_c_locale()) {
        PyErr_SetFromErrno(PyExc_OSError);
        return -1;
    }
    if (bind_all() < 0 || PyModule_AddIntConstant(module, "NAME_LENGTH", name_limit) < 0) return -1;
    return add_table_functions(module) < 0 || add_value_functions(module) < 0 ? -1 : 0;
}

}  // namespace

}  // namespace qv::catalogue

PyMODINIT_FUNC PyInit__catalogue() { return qv::catalogue::frame.init(); }
