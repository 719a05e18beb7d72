#!/usr/bin/env bash
# Run a command under the AddressSanitizer/UndefinedBehaviorSanitizer runtime,
# for the modules built with QUORVANE_SANITIZE=ON.  The interpreter itself is
# not instrumented, so the ASan runtime is preloaded; PYTHONMALLOC=malloc lets
# ASan see Python objects' memory.  The interpreter's own allocations at exit
# are not ours to judge, so leak detection is left to the leak tests.
set -euo pipefail
asan=$(gcc -print-file-name=libasan.so)
export LD_PRELOAD="$asan"
export PYTHONMALLOC=malloc
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:halt_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export QUORVANE_SANITIZED=1
exec "$@"
