#!/bin/sh
# Runs the tests named by a gtest filter as an ordinary user: as root they would find every folder
# writable and skip themselves. A skip here fails, so the run shows the tests really ran.
set -eu
binary=$1
filter=$2
if [ "$(id -u)" -ne 0 ]; then
    exec "$binary" --gtest_filter="$filter"
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chown nobody "$scratch"
output=$(TMPDIR=$scratch setpriv --reuid=nobody --regid=nogroup --clear-groups \
    "$binary" --gtest_filter="$filter" 2>&1) || { echo "$output"; exit 1; }
echo "$output"
case $output in
*"[  SKIPPED ]"*) echo "a test skipped itself as nobody"; exit 1 ;;
esac
