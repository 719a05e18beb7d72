#include "propagators/analytical/sgp4/duoline/fields.hpp"

#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace qv::duoline {

namespace {
// Created once at import and kept for the life of the process.
locale_t c_locale = static_cast<locale_t>(nullptr);
}  // namespace

bool init_c_locale() noexcept {
    if (!c_locale) c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c_locale != static_cast<locale_t>(nullptr);
}

// atoi is defined as (int)strtol(text, NULL, 10); the parser reads it only
// for the two-character year field.
int field_atoi(const char* text) noexcept { return static_cast<int>(strtol_l(text, nullptr, 10, c_locale)); }

double field_atof(const char* text) noexcept { return strtod_l(text, nullptr, c_locale); }

}  // namespace qv::duoline
