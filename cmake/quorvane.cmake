# Shared compile settings and the one helper every extension module uses.
#
# Numerics: results are reproducible to the last bit only when the compiler
# keeps the order of operations written in the sources, so contraction into
# fused multiply-add is off and no fast-math or -march=native flag is ever set.
set(QUORVANE_COMPILE_OPTIONS -O2 -ffp-contract=off -fno-fast-math -Wall -Wextra)
set(QUORVANE_LINK_OPTIONS)
if(QUORVANE_SANITIZE)
  list(APPEND QUORVANE_COMPILE_OPTIONS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g)
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
