# Shared compile settings and the one helper every extension module uses.
#
# Numerics: results are reproducible to the last bit only when the compiler
# keeps the order of operations written in the sources, so contraction into
# fused multiply-add is off and no fast-math or -march=native flag is ever set.
#
# The optimisation level is the project's own, -O2 for every build type: the
# build types' default flags (Release's -O3 -DNDEBUG and the others) lose
# their -O option here, so each compile line holds one.  (-O2 is the level
# every result and benchmark of the project was taken at.)  The sanitizer
# build takes -O1, the level AddressSanitizer's authors advise: instrumenting
# the vectorised kernels at -O2 took twice as long (98 s against 49 s for the
# largest file) and was most of make test's longest build.  The bits are the
# same at either level: with contraction off and no fast-math, GCC keeps the
# order of every floating-point operation.
foreach(lang C CXX)
  foreach(type RELEASE RELWITHDEBINFO MINSIZEREL DEBUG)
    string(REGEX REPLACE "(^| )-O[0-9sgz]?( |$)" " " CMAKE_${lang}_FLAGS_${type} "${CMAKE_${lang}_FLAGS_${type}}")
  endforeach()
endforeach()
if(QUORVANE_SANITIZE)
  set(QUORVANE_COMPILE_OPTIONS -O1)
else()
  set(QUORVANE_COMPILE_OPTIONS -O2)
endif()
list(APPEND QUORVANE_COMPILE_OPTIONS -ffp-contract=off -fno-fast-math -Wall -Wextra)
set(QUORVANE_LINK_OPTIONS)
if(QUORVANE_SANITIZE)
  # Line tables only (-g1) and no forced inlining (QV_SANITIZE): with full
  # debug information and every helper inlined, instrumenting one vectorised
  # kernel file took the compiler over ten minutes.
  list(APPEND QUORVANE_COMPILE_OPTIONS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g1
    -DQV_SANITIZE)
  list(APPEND QUORVANE_LINK_OPTIONS -fsanitize=address,undefined)
endif()

# quorvane_add_module(<target> DESTINATION <package dir> SOURCES <files...>)
# builds the extension module <target> (import name = target) and installs it
# under <package dir> of the wheel, e.g. quorvane/state for quorvane.state.orbel.
function(quorvane_add_module target)
  cmake_parse_arguments(ARG "" "DESTINATION" "SOURCES" ${ARGN})
  Python_add_library(${target} MODULE WITH_SOABI ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE quorvane_runtime)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/native)
  target_compile_options(${target} PRIVATE ${QUORVANE_COMPILE_OPTIONS})
  target_link_options(${target} PRIVATE ${QUORVANE_LINK_OPTIONS})
  install(TARGETS ${target} LIBRARY DESTINATION ${ARG_DESTINATION})
endfunction()

# Declaration headers shipped in the wheel for extensions outside the package,
# under quorvane/include/quorvane/ (quorvane.get_include() is the include
# directory).  Paths are relative to native/; the binding helper is the
# runtime's own header-only binder, <quorvane/runtime/bind.hpp>.
set(QUORVANE_SHIPPED_HEADERS
  datamodel/structured/structured.hpp
  mathtools/arqel/arqel.hpp
  state/orbel/orbel.hpp
  siblings/utils/representable/representable.hpp
  propagators/analytical/sgp4/duoline/duoline.hpp
  runtime/ref.hpp
  runtime/bind.hpp)
# Headers that may include <Python.h>; the others must compile without it.
# The object layouts of DUOLINE and ELSET (and of their base) are Python
# objects, read natively by the propagator and by extensions outside.
set(QUORVANE_SHIPPED_PYTHON_HEADERS runtime/ref.hpp runtime/bind.hpp
  siblings/utils/representable/representable.hpp propagators/analytical/sgp4/duoline/duoline.hpp)

# Inside the build, headers include each other relative to native/
# ("datamodel/structured/structured.hpp"); shipped, the same files live under
# quorvane/, so those includes are rewritten to "quorvane/...".  An include of
# a project file that is not shipped, or of Python.h from a header that must
# not need it, fails the configure step rather than the user's compiler.
function(quorvane_install_headers)
  foreach(header IN LISTS QUORVANE_SHIPPED_HEADERS)
    set(source "${PROJECT_SOURCE_DIR}/native/${header}")
    set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
    file(READ "${source}" text)
    foreach(other IN LISTS QUORVANE_SHIPPED_HEADERS)
      string(REPLACE "#include \"${other}\"" "#include \"quorvane/${other}\"" text "${text}")
    endforeach()
    string(REGEX MATCHALL "#include \"[^\"]*\"" quoted "${text}")
    foreach(include IN LISTS quoted)
      if(NOT include MATCHES "^#include \"quorvane/")
        message(FATAL_ERROR "shipped header ${header}: ${include} names a file that is not shipped")
      endif()
    endforeach()
    if(NOT header IN_LIST QUORVANE_SHIPPED_PYTHON_HEADERS AND text MATCHES "Python\\.h")
      message(FATAL_ERROR "shipped header ${header} must not need Python.h")
    endif()
    set(installed "${header}")
    set(staged "${PROJECT_BINARY_DIR}/include/quorvane/${installed}")
    # Written through a scratch copy so an unchanged header keeps its time stamp.
    file(WRITE "${PROJECT_BINARY_DIR}/include.tmp/${installed}" "${text}")
    configure_file("${PROJECT_BINARY_DIR}/include.tmp/${installed}" "${staged}" COPYONLY)
    get_filename_component(subdir "${installed}" DIRECTORY)
    install(FILES "${staged}" DESTINATION "quorvane/include/quorvane/${subdir}")
  endforeach()
endfunction()

# quorvane_isa_sources(<target> <isa> <files...>) compiles <files> for one
# instruction set and links them into <target>: <isa> is baseline (x86-64),
# avx2 (-mavx2) or avx512 (-mavx512f -mavx512dq).  Each unit is built with
# -DQV_SIMD_ISA=<isa>, which puts the lane headers (native/mathtools/simd)
# in a namespace of that name, so inline functions compiled for a wider set
# never stand in for the baseline ones at link time.  The same file may be
# given for several instruction sets (one object library per set); callers
# choose among them at run time with qv::simd::detect().
function(quorvane_isa_sources target isa)
  if(isa STREQUAL "baseline")
    set(flags)
  elseif(isa STREQUAL "avx2")
    set(flags -mavx2)
  elseif(isa STREQUAL "avx512")
    set(flags -mavx512f -mavx512dq)
  else()
    message(FATAL_ERROR "quorvane_isa_sources: unknown instruction set '${isa}' (baseline, avx2 or avx512)")
  endif()
  set(objects ${target}_${isa})
  add_library(${objects} OBJECT ${ARGN})
  target_link_libraries(${objects} PRIVATE quorvane_runtime)
  target_compile_options(${objects} PRIVATE ${QUORVANE_COMPILE_OPTIONS} ${flags})
  target_compile_definitions(${objects} PRIVATE QV_SIMD_ISA=${isa})
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:${objects}>)
endfunction()
