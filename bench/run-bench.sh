#!/usr/bin/env bash
# Times one run of ZUQTradeReport over a table of N trades (default
# 1,000,000), all kept (no firm code), with the log sent to a file. Prints
# wall time and peak memory of the program, first through the embedded data
# server, then over loopback from zuqds (when it is built).
# Usage: bench/run-bench.sh [BUILD-DIR] [N]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
count=${2:-1000000}
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

measure() {
  /usr/bin/time -f "$1: wall %e s, peak memory %M KiB" "$build/src/ZUQTradeReport" "$2" >run.log
  echo "$1: report lines $(wc -l <report.txt), log lines $(wc -l <run.log)"
}

measure embedded embedded.ini
cp report.txt embedded-report.txt

if [ -x "$build/zuqds/zuqds" ]; then
  "$build/zuqds/zuqds" --data data --listen 127.0.0.1:0 >zuqds.log &
  server=$!
  until grep -q '^listening on ' zuqds.log 2>/dev/null; do sleep 0.1; done
  address=$(sed -n 's/^listening on //p' zuqds.log | head -n 1)
  printf "$options[zuqonl]\r\nserver=$address\r\n" >"$work/network.ini"
  measure network network.ini
  cmp -s report.txt embedded-report.txt && echo "network report identical to the embedded one"
fi
