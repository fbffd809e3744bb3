#!/usr/bin/env bash
# Times one run of ZUQTradeReport over a table of N trades (default
# 1,000,000), all kept (no firm code), through the embedded data server, with
# the log sent to a file. Prints wall time and peak memory.
# Usage: bench/run-bench.sh [BUILD-DIR] [N]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
count=${2:-1000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/data"
python3 "$root/bench/make_trades.py" "$count" "$work/data/Trade.csv"
printf '[options]\r\nsync_timeout=60\r\ntrade_issue=BOND-2031\r\nreport_file=report.txt\r\n[zuqonl]\r\ndata_dir=data\r\n' >"$work/bench.ini"

cd "$work"
/usr/bin/time -f 'wall %e s, peak memory %M KiB' "$build/src/ZUQTradeReport" bench.ini >run.log
echo "report lines: $(wc -l <report.txt), log lines: $(wc -l <run.log)"
