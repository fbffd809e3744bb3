#!/usr/bin/env bash
# Times ZUQTradeReport over a table of trades, all kept (no firm code), with
# the log sent to a file: first through the embedded data server, then over
# loopback from zuqds (when it is built). Each case runs RUNS times (default
# 5) and prints every run's wall time and peak memory, then the minimum and
# the median; the machine's load is printed first, since other jobs skew the
# figures.
#
# Usage: bench/run-bench.sh [OPTIONS] [TABLE] [BUILD-DIR] [N] [RUNS]
#        bench/run-bench.sh --large [OPTIONS] [TABLE] [BUILD-DIR] [RUNS]
# TABLE chooses the table (default: the generated one of make_trades.py):
#   --table FILE     a "Trade" table file of your own; N is then ignored
#   --gen-trades     the varied table of gen_trades.py (beside the project, in
#                    shared/bench): distinct client pairs, memos and trade
#                    references, revisions out of order, as a live day's are
# --large runs the 10,000,000-trade case; its table, report and log need
# about 4 GB of disk, so it is never run by default.
# --log-to-null (before TABLE) sends the program's log to /dev/null instead
# of a file, as a run whose output nobody keeps: writing a million "AddRow"
# lines to a file costs the notification thread some 50 ms.
# --peers (before TABLE) also times the awk+sort and DuckDB peers of
# shared/bench on the same table, taking turns with the program's embedded
# runs, and checks that their reports are the program's byte for byte. The
# DuckDB peer needs `npm install @duckdb/node-api` in /tmp/duckpeer (or
# DUCKPEER_DIR); without it that peer is left out, with a line saying so.
# A Windows build folder (build-mingw32, build-mingw64) runs the Windows
# program under Wine, through the embedded data server only; its peak memory
# then includes Wine's own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
shared_bench=${ZUQ_SHARED_BENCH:-$root/../shared/bench}
count=1000000
peers=no
table=
generator=make_trades
large=no
log_to=file
while :; do
  case "${1:-}" in
    --large) count=10000000; large=yes; shift ;;
    --peers) peers=yes; shift ;;
    --log-to-null) log_to=null; shift ;;
    *) break ;;
  esac
done
case "${1:-}" in
  --table)
    table=$(realpath "$2")
    generator=
    shift 2
    ;;
  --gen-trades)
    generator=gen_trades
    shift
    ;;
esac
build=${1:-$root/build}
if [ "$large" = yes ]; then
  runs=${2:-5}
else
  count=${2:-$count}
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
# make_trades.py's table is of one issue; any other table is taken whole
# (an empty issue selects every row), as the peers take it.
issue=
case $generator in
  make_trades)
    python3 "$root/bench/make_trades.py" "$count" "$work/data/Trade.csv"
    issue=BOND-2031
    ;;
  gen_trades) python3 "$shared_bench/gen_trades.py" "$count" "$work/data/Trade.csv" ;;
  *) ln -s "$table" "$work/data/Trade.csv" ;;
esac
options="[options]\r\nsync_timeout=60\r\ntrade_issue=$issue\r\nreport_file=report.txt\r\n"
printf "$options[zuqonl]\r\ndata_dir=data\r\n" >"$work/embedded.ini"
cd "$work"
rows=$(($(wc -l <data/Trade.csv) - 1))
echo "table: ${table:-$generator.py}, $rows rows; runs: $runs; load:$(uptime | sed 's/.*load average://')"

# Prints "min" and "median" of the numbers on standard input.
summary() {
  sort -n | awk '{ v[NR] = $1 } END { printf "min %s median %s", v[1], v[int((NR + 1) / 2)] }'
}

# One timed run of case $1: the command after it, its standard output to
# $1.out (the program's log to /dev/null with --log-to-null). Prints the
# run's line and keeps its figures in $1.times.
time_run() {
  local name=$1 status=0 out=$1.out
  shift
  [ "$log_to" = null ] && [ "$name" != awk ] && [ "$name" != duckdb ] && out=/dev/null
  /usr/bin/time -o time.txt -f "%e %M" "$@" >"$out" || status=$?
  read -r wall peak < <(tail -n 1 time.txt)
  echo "$name run $((++run_count[$name])): wall $wall s, peak memory $peak KiB, exit status $status"
  echo "$wall $peak" >>"$name.times"
}
declare -A run_count
report_summary() {
  echo "$1: wall $(cut -d' ' -f1 "$1.times" | summary) s;" \
    "peak memory $(cut -d' ' -f2 "$1.times" | summary) KiB"
}

cases=(embedded)
if [ "$peers" = yes ]; then
  cases+=(awk)
  if [ -d "${DUCKPEER_DIR:-/tmp/duckpeer}/node_modules/@duckdb/node-api" ]; then
    cases+=(duckdb)
  else
    echo "duckdb: left out, no @duckdb/node-api in ${DUCKPEER_DIR:-/tmp/duckpeer} (see shared/bench/peer_duckdb.sh)"
  fi
fi
for name in "${cases[@]}"; do : >"$name.times"; run_count[$name]=0; done
for ((run = 1; run <= runs; ++run)); do
  for name in "${cases[@]}"; do
    case $name in
      embedded) time_run embedded "${program[@]}" embedded.ini ;;
      awk) time_run awk "$shared_bench/peer_awk.sh" data/Trade.csv ;;
      duckdb) time_run duckdb "$shared_bench/peer_duckdb.sh" data/Trade.csv ;;
    esac
  done
done
for name in "${cases[@]}"; do report_summary "$name"; done
log_lines="log sent to /dev/null"
[ "$log_to" = null ] || log_lines="log lines $(wc -l <embedded.out || echo none)"
echo "embedded: report lines $(wc -l <report.txt 2>/dev/null || echo none), $log_lines"
if [ -f report.txt ]; then cp report.txt embedded-report.txt; fi
for name in "${cases[@]:1}"; do
  if cmp -s "$name.out" embedded-report.txt; then
    echo "$name: report identical to the program's"
  else
    echo "$name: report DIFFERS from the program's"
  fi
done

if [ -x "$build/zuqds/zuqds" ] && [ ! -f "$build/bin/ZUQTradeReport.exe" ]; then
  "$build/zuqds/zuqds" --data data --listen 127.0.0.1:0 >zuqds.log &
  server=$!
  until grep -q '^listening on ' zuqds.log 2>/dev/null; do sleep 0.1; done
  address=$(sed -n 's/^listening on //p' zuqds.log | head -n 1)
  printf "$options[zuqonl]\r\nserver=$address\r\n" >"$work/network.ini"
  : >network.times
  run_count[network]=0
  for ((run = 1; run <= runs; ++run)); do time_run network "${program[@]}" network.ini; done
  report_summary network
  cmp -s report.txt embedded-report.txt && echo "network report identical to the embedded one"
fi
