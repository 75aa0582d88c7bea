#!/usr/bin/env bash
# Installs what is missing, builds Vardel and runs every test: once in a normal build, once more
# with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup-debian.sh"
export QT_QPA_PLATFORM=offscreen

cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" -j2
ctest --test-dir "$top/build" --output-on-failure -j2

cmake -S "$top" -B "$top/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARDEL_SANITIZE=ON \
    -DVARDEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$top/build-asan" -j2
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$top/build-asan" --output-on-failure -j2
echo "All tests passed."
