#!/usr/bin/env bash
# Times ZUQTradeReport over a table of N trades (default 1,000,000), all kept
# (no firm code), with the log sent to a file: first through the embedded data
# server, then over loopback from zuqds (when it is built). Each case runs
# RUNS times (default 5) and prints every run's wall time and peak memory,
# then the minimum and the median; the machine's load is printed first, since
# other jobs skew the figures.
#
# Usage: bench/run-bench.sh [BUILD-DIR] [N] [RUNS]
#        bench/run-bench.sh --large [BUILD-DIR] [RUNS]
# --large runs the 10,000,000-trade case; its table, report and log need
# about 4 GB of disk, so it is never run by default.
# A Windows build folder (build-mingw32, build-mingw64) runs the Windows
# program under Wine, through the embedded data server only; its peak memory
# then includes Wine's own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = "--large" ]; then
  shift
  build=${1:-$root/build}
  count=10000000
  runs=${2:-5}
else
  build=${1:-$root/build}
  count=${2:-1000000}
  runs=${3:-5}
fi
build=$(cd "$build" && pwd)
program=("$build/src/ZUQTradeReport")
if [ -f "$build/bin/ZUQTradeReport.exe" ]; then
  bits=64
  objdump -f "$build/bin/ZUQTradeReport.exe" | grep -q 'pei-i386' && bits=32
  program=("$root/cmake/wine-run.sh" "$bits" "$build/bin/ZUQTradeReport.exe")
fi
work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/data"
python3 "$root/bench/make_trades.py" "$count" "$work/data/Trade.csv"
options='[options]\r\nsync_timeout=60\r\ntrade_issue=BOND-2031\r\nreport_file=report.txt\r\n'
printf "$options[zuqonl]\r\ndata_dir=data\r\n" >"$work/embedded.ini"
cd "$work"
echo "trades: $count, runs: $runs, load:$(uptime | sed 's/.*load average://')"

# Prints "min" and "median" of the numbers on standard input.
summary() {
  sort -n | awk '{ v[NR] = $1 } END { printf "min %s median %s", v[1], v[int((NR + 1) / 2)] }'
}

measure() {
  : >"$1.times"
  for ((run = 1; run <= runs; ++run)); do
    status=0
    /usr/bin/time -o time.txt -f "%e %M" "${program[@]}" "$2" >run.log || status=$?
    read -r wall peak < <(tail -n 1 time.txt)
    echo "$1 run $run: wall $wall s, peak memory $peak KiB, exit status $status"
    echo "$wall $peak" >>"$1.times"
  done
  echo "$1: wall $(cut -d' ' -f1 "$1.times" | summary) s;" \
    "peak memory $(cut -d' ' -f2 "$1.times" | summary) KiB"
  echo "$1: report lines $(wc -l <report.txt 2>/dev/null || echo none), log lines $(wc -l <run.log)"
}

measure embedded embedded.ini
if [ -f report.txt ]; then cp report.txt embedded-report.txt; fi

if [ -x "$build/zuqds/zuqds" ] && [ ! -f "$build/bin/ZUQTradeReport.exe" ]; then
  "$build/zuqds/zuqds" --data data --listen 127.0.0.1:0 >zuqds.log &
  server=$!
  until grep -q '^listening on ' zuqds.log 2>/dev/null; do sleep 0.1; done
  address=$(sed -n 's/^listening on //p' zuqds.log | head -n 1)
  printf "$options[zuqonl]\r\nserver=$address\r\n" >"$work/network.ini"
  measure network network.ini
  cmp -s report.txt embedded-report.txt && echo "network report identical to the embedded one"
fi
