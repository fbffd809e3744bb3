#!/usr/bin/env bash
# Builds the program and writes the report of the bundled sample.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build

"$root/scripts/install-deps.sh"
cmake -G Ninja -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target ZUQTradeReport zuqonl

cd "$root/examples"
status=0
"$build/src/ZUQTradeReport" sample.ini || status=$?
echo
echo "Report written to $root/examples/$(sed -n 's/^report_file *= *//p' sample.ini | tr -d '\r')"
echo "Log written to $root/examples/sample.log"
exit $status
