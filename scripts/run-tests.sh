#!/usr/bin/env bash
# Builds everything and runs every test.
# Usage: scripts/run-tests.sh [BUILD-DIR] [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift $(( $# > 0 ? 1 : 0 ))

"$root/scripts/install-deps.sh"
cmake -G Ninja -S "$root" -B "$build" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure --timeout 300
