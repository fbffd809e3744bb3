#!/usr/bin/env bash
# Builds everything and runs every test. Prints ctest's progress (thinned to
# about ten lines where the output is no terminal), the output of each test
# that fails, why each skipped test was skipped, and ctest's summary; the
# whole output of the build and of every test goes to BUILD-DIR/run-tests.log.
# Usage: scripts/run-tests.sh [BUILD-DIR] [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift $(( $# > 0 ? 1 : 0 ))

"$root/scripts/install-deps.sh"
mkdir -p "$build"
log=$build/run-tests.log
echo "Building in $build; the whole output, build and tests, goes to $log"
if ! { cmake -G Ninja -S "$root" -B "$build" "$@" && cmake --build "$build" -j"$(nproc)"; } \
     >"$log" 2>&1; then
  # The compiler's words for the first target that failed, or the end of
  # what cmake said.
  if grep -q '^FAILED: ' "$log"; then sed -n '/^FAILED: /,$p' "$log" | head -n 60; else tail -n 30 "$log"; fi
  echo "The build failed; its whole output: $log" >&2
  exit 1
fi

# ctest -V gives each test's output, its lines marked "N: " with the test's
# number: kept back while the test runs, printed when it fails; the line after
# googletest's "...: Skipped" is the reason for a skip.
[ -t 1 ] && terminal=1 || terminal=0
status=0
ctest --test-dir "$build" -j"$(nproc)" -V --timeout 300 2>&1 | tee -a "$log" |
  awk -v terminal=$terminal '
    function endProgress() { if (progress) { printf "\n"; progress = 0 } }
    match($0, /^[0-9]+: /) {
      n = substr($0, 1, RLENGTH - 2); text = substr($0, RLENGTH + 1)
      if (skipping[n]) { reason[n] = text; skipping[n] = 0 }
      if (text ~ /: Skipped$/) skipping[n] = 1
      output[n] = output[n] text "\n"
      next
    }
    match($0, /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: /) {
      split($0, field, /[\/#:]/); n = field[3] + 0
      if ($0 ~ / Passed +[0-9.]+ sec$/) {
        if (terminal) { line = $0; sub(/ \.+ /, " ", line)
                        printf "\r%s\033[K", substr(line, 1, 100); progress = 1 }
        else if (int(10 * field[1] / field[2]) > shown) { shown = int(10 * field[1] / field[2]); print }
      } else if ($0 ~ /\*\*\*Skipped/) {
        endProgress(); print $0 ": " reason[n]
      } else {
        endProgress(); printf "%s", output[n]; print
      }
      delete output[n]
      next
    }
    /^The following tests passed:/ { passedList = 1; next }
    passedList && /^\t/ { next }
    { passedList = 0 }
    /^(test [0-9]+| +Start +[0-9]+: |UpdateCTestConfiguration|Constructing a list|Done constructing|Updating test list|Added [0-9]+ tests to meet|Checking test dependency|Internal ctest)/ { next }
    /^$/ && !summary { next }
    /tests passed, [0-9]+ tests? failed out of/ { endProgress(); summary = 1; print ""; }
    match($0, /^\t[0-9]+ - .* \(Skipped\)$/) { split($0, field, /[\t -]+/); print $0 ": " reason[field[2]]; next }
    { endProgress(); print }
  ' || status=$?
echo "The whole output of the build and of every test: $log"
exit $status
