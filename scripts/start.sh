#!/usr/bin/env bash
# Installs what is missing, builds Vardel and starts the desktop program. Arguments go to vardel
# (for example --port sim:/tmp/board --virtual-time).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup-debian.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" -j2

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" = "" ]; then
    cat <<MSG
Vardel is built, but this machine has no display to show its window on.
Use the command-line programmer instead, for example:

  $top/build/bin/vardel-cli --help
  $top/build/bin/vardel-cli check
  $top/build/bin/vardel-cli --port sim --virtual-time sim insert-eeprom 24C04
  $top/build/bin/vardel-cli --port sim --virtual-time eeprom read 24C04 chip.bin

or run the window on a virtual display: xvfb-run $top/build/bin/vardel
MSG
    exit 0
fi
exec "$top/build/bin/vardel" "$@"
