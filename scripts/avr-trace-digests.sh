#!/usr/bin/env bash
# Prints, for each AVR part named (default: the twelve parts of the first catalogue) and each
# command below, a digest of the line trace with its times left out, the exit status and the
# output with its times masked: two builds that print the same lines drive every port line through
# the same values in the same order.
#
#   scripts/avr-trace-digests.sh BIN_DIR [PART ...] > digests.txt
#
# BIN_DIR holds vardel-cli and vardel-cli-core. Compare two builds with diff.
set -euo pipefail

bin=$1
shift
parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(AT90S8515 AT90S8535 AT90S4414 AT90S4434 ATmega128 ATmega103
                                AT90S2313 AT90S2323 AT90S2343 ATmega161 ATmega163 ATtiny12)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The same images every time: 768 bytes of flash and 48 of EEPROM, with the values that cannot be
# polled among them.
head -c 700 /dev/zero | tr '\0' '\125' > "$work/flash.bin"
printf '\x7f\x80\xff\x00\x12\x34' >> "$work/flash.bin"
head -c 62 /dev/zero | tr '\0' '\377' >> "$work/flash.bin"
printf '\x01\x02\x7f\x80\xff\x00\x55\xaa' > "$work/eeprom.bin"
for _ in 1 2 3 4 5; do printf '\x11\x22\x33\x44\x55\x66\x77\x88' >> "$work/eeprom.bin"; done

commands=(
    "identify"
    "program-flash $work/flash.bin"
    "verify-flash $work/flash.bin"
    "read-flash $work/out.bin"
    "program-eeprom $work/eeprom.bin"
    "verify-eeprom $work/eeprom.bin"
    "read-eeprom $work/out.bin"
    "read-lock"
    "read-fuses"
    "erase"
    "blank-test"
)

# A fuse bit each part can change without ending serial programming (none: the refusal).
fuse_change() {
    case $1 in
        AT90S8535 | AT90S4434 | AT90S2323) echo FSTRT=0 ;;
        AT90S2343) echo RCEN=1 ;;
        ATmega128) echo CKOPT=0 ;;
        ATmega103) echo EESAVE=0 ;;
        ATmega161 | ATmega163 | ATtiny12) echo BODEN=0 ;;
        *) echo "" ;;
    esac
}

for part in "${parts[@]}"; do
    board="$work/board-$part"
    mkdir -p "$board"
    "$bin/vardel-cli" --port "sim:$board" --virtual-time sim insert-avr "$part" > /dev/null
    for command in "${commands[@]}" "program-fuses $(fuse_change "$part")" "program-lock LB1=0" \
        "read-lock"; do
        rm -f "$work/out.bin"
        status=0
        # shellcheck disable=SC2086
        "$bin/vardel-cli" --port "sim:$board" --virtual-time --yes \
            --trace >(grep -v '^#' | sha256sum | cut -c1-16 > "$work/digest") \
            avr $command > "$work/stdout" 2>&1 || status=$?
        # The process substitution ends after the program: wait for its digest.
        for _ in $(seq 100); do [ -s "$work/digest" ] && break; sleep 0.1; done
        output=$(sed -e "s#$work#W#g" -e 's/[0-9.]\+ \(s\|ms\|min\)\b/T/g' "$work/stdout" |
                 sha256sum | cut -c1-8)
        printf '%-10s %-15s status %s trace %s output %s\n' "$part" "${command%% *}" "$status" \
            "$(cat "$work/digest")" "$output"
        rm -f "$work/digest"
    done
done
