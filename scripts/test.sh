#!/usr/bin/env bash
# Installs what is missing, builds Vardel and runs every test: once in a normal build, once more
# with AddressSanitizer and UndefinedBehaviorSanitizer; then the benchmarks in a short mode, a
# bounded fuzzing run of each fuzz target, an install into a temporary prefix, and the Debian
# package with its contents and lintian's verdict.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup-debian.sh"
export QT_QPA_PLATFORM=offscreen

echo "== Build and tests"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" -j2
ctest --test-dir "$top/build" --output-on-failure -j2

echo "== The window tests on an X server (Xvfb with a window manager, xcb), at 100 % and at 150 %"
# openbox frames the windows as a desktop does, which is where a dialog shown again could move.
for scale in 1 1.5; do
    for t in ui_tests avr_page_tests; do
        QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale xvfb-run -a -s "-screen 0 1600x1000x24" \
            sh -c 'openbox >/dev/null 2>&1 & wm=$!; sleep 1; "$1"; status=$?; kill $wm; exit $status' \
            sh "$top/build/bin/$t"
    done
done

echo "== The same tests with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$top" -B "$top/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARDEL_SANITIZE=ON \
    -DVARDEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$top/build-asan" -j2
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$top/build-asan" --output-on-failure -j2

echo "== Fuzzing (bounded)"
cmake -S "$top/fuzz" -B "$top/build-fuzz" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$top/build-fuzz" -j2
for target in hex_reader:hex binary_loader:bin settings_values:settings board_ini:board_ini \
    command_line:command_line project_file:project elf_reader:elf; do
    name=${target%%:*}
    seeds=${target##*:}
    # Every input that ever failed stays in the corpus: each is run once first, so a fault found
    # before fails the run every time, not only when the search happens upon it again.
    "$top/build-fuzz/fuzz_$name" "$top/fuzz/corpus/$seeds"/*
    # The bounded search starts from a fixed seed; an input it finds failing is kept beside the
    # corpus under crash-*, to be added to it with the fix.
    work=$(mktemp -d)
    "$top/build-fuzz/fuzz_$name" -seed=1 -max_total_time="${VARDEL_FUZZ_SECONDS:-30}" \
        -print_final_stats=1 -artifact_prefix="$top/fuzz/corpus/$seeds/" "$work" \
        "$top/fuzz/corpus/$seeds"
    rm -rf "$work"
done

echo "== Install into a temporary prefix"
prefix=$(mktemp -d)
cmake --install "$top/build" --prefix "$prefix" >/dev/null
for f in bin/vardel bin/vardel-cli libexec/vardel/vardel-cli-core share/applications/vardel.desktop \
    share/icons/hicolor/scalable/apps/vardel.svg; do
    [ -e "$prefix/$f" ] || { echo "install is missing $f"; exit 1; }
done
"$prefix/bin/vardel-cli" --version
XDG_CONFIG_HOME="$prefix" "$prefix/bin/vardel-cli" --port "sim:$prefix/board" --virtual-time check
rm -rf "$prefix"

echo "== The Debian package"
rm -f "$top"/build/vardel_*.deb
(cd "$top/build" && cpack -G DEB >/dev/null)
deb=$(ls "$top"/build/vardel_*.deb)
contents=$(dpkg-deb -c "$deb")
for f in usr/bin/vardel usr/bin/vardel-cli usr/libexec/vardel/vardel-cli-core \
    usr/share/applications/vardel.desktop usr/share/icons/hicolor/scalable/apps/vardel.svg \
    usr/share/man/man1/vardel-cli.1.gz usr/share/man/man1/vardel.1.gz \
    usr/share/bash-completion/completions/vardel-cli \
    usr/share/doc/vardel/copyright usr/share/doc/vardel/changelog.gz; do
    grep -q " \./$f\$" <<<"$contents" || { echo "the package is missing $f"; exit 1; }
done
# The dependencies come from the libraries the programs load.
dpkg-deb -f "$deb" Depends | grep -q libqt6core6 || { echo "the package depends on no Qt"; exit 1; }
# The manual page carries the commands and options of --help, the exit statuses and examples.
manual=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/man/man1/vardel-cli.1.gz | zcat)
for word in "EXIT STATUS" "EXAMPLES" "eeprom read|program|verify" "sim export" '\-\-quiet'; do
    grep -qF -- "$word" <<<"$manual" || { echo "the manual page lacks $word"; exit 1; }
done
lintian --fail-on error "$deb"
echo "All tests passed."
