#!/usr/bin/env bash
# Cost of an agent-log line (one thread, two threads) and of one rotation at
# the threshold, in the test build's Wine prefix. Prints figures; never
# fails on them.
#   bench/log_throughput.sh [lines]
set -euo pipefail
cd "$(dirname "$0")/.."
lines=${1:-20000}
scripts/bootstrap >/dev/null
cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64 --target log_throughput >/dev/null
run=build/x86_64/wine-run
work=build/bench/log_throughput
rm -rf "$work"; mkdir -p "$work"
"$run" --start >/dev/null
trap '"$run" --stop >/dev/null' EXIT
"$run" build/x86_64/bin/log_throughput.exe "Z:$(pwd)/$work" "$lines"
