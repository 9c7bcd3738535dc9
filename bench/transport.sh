#!/usr/bin/env bash
# The transport's speed, pacing, resume and memory, in one run against the
# test servers (nginx on 127.0.0.1): a raw WinHTTP loop, the same loop with
# its reads gathered into 1 MiB writes, and the engine fetch the same 1 GiB
# file; the window and block methods are timed at 2,000 KBps;
# a resumable download is killed halfway and finished by a second run; the
# engine's peak working set is read after its 1 GiB download, and what its
# progress cost: the lines it logged and the registry writes it made.
# Prints figures and ends with RESULT lines; never fails on them.
#   bench/transport.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/bootstrap >/dev/null
cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64 --target transport_bench >/dev/null

run="$root/build/x86_64/wine-run"
bench="$root/build/x86_64/bin/transport_bench.exe"
dir="$root/build/bench/transport"
servers="$dir/servers"
rm -rf "$dir"
mkdir -p "$dir/out" "$dir/agent"
"$run" --start >/dev/null
python3 tests/servers/servers.py start "$servers" >/dev/null
cleanup() {
  python3 tests/servers/servers.py stop "$servers" >/dev/null 2>&1 || true
  "$run" --stop >/dev/null 2>&1 || true
}
trap cleanup EXIT

ini() { sed -n "s/^$1 *= *//p" "$servers/servers.ini"; }
port=$(ini nginx_https_port)
store=$(ini store_dir)
mkdir -p "$store/bench"
GIB=$((1024 * 1024 * 1024))
truncate -s $GIB "$store/bench/big.bin"
truncate -s 30000000 "$store/bench/window.bin"
truncate -s 10000000 "$store/bench/block.bin"
zout="Z:$dir/out"

# field <name> <line>: the value of name=value in a result line.
field() { sed -n "s/.*\b$1=\([0-9.-]*\).*/\1/p" <<<"$2"; }
# download <mode> <file> [arg]: runs one download and prints its result line.
download() { "$run" "$bench" "$1" "$port" "/store/bench/$2" "$zout\\$1-$2" "${3:-}" | tr -d '\r'; }
rate() { awk -v b="$1" -v ms="$2" 'BEGIN { printf "%.1f", b / ms / 1000 }'; }

# Alternating runs, the median of three for each: a single run of either
# can be slowed, or sped up, by the machine's other work.
median() { printf '%s\n' "$@" | sort -t= -k3 -n | sed -n 2p; }
raws=(); gathereds=(); engines=()
for _ in 1 2 3; do
  raws+=("$(download raw big.bin)"); rm -f "$dir/out/raw-big.bin"
  gathereds+=("$(download gathered big.bin)"); rm -f "$dir/out/gathered-big.bin"
  engines+=("$(download engine big.bin)"); rm -f "$dir/out/engine-big.bin"
done
raw=$(median "${raws[@]}")
gathered=$(median "${gathereds[@]}")
engine=$(median "${engines[@]}")
raw_mbs=$(rate "$(field bytes "$raw")" "$(field ms "$raw")")
gathered_mbs=$(rate "$(field bytes "$gathered")" "$(field ms "$gathered")")
engine_mbs=$(rate "$(field bytes "$engine")" "$(field ms "$engine")")
echo "raw WinHTTP loop:      $raw_mbs MB/s ($raw)"
echo "gathered WinHTTP loop: $gathered_mbs MB/s ($gathered)"
echo "engine:                $engine_mbs MB/s ($engine)"
echo "progress of the engine's 1 GiB download: $(field progress_lines "$engine") log lines," \
     "$(field progress_records "$engine") registry writes"

window=$(download window window.bin 2000)
block=$(download block block.bin 2000)
window_rate=$(awk -v b="$(field bytes "$window")" -v ms="$(field ms "$window")" 'BEGIN { printf "%.0f", b / (ms / 1000) }')
block_rate=$(awk -v b="$(field bytes "$block")" -v ms="$(field ms "$block")" 'BEGIN { printf "%.0f", b / (ms / 1000) }')
echo "window method at 2000 KBps: $window_rate B/s ($window)"
echo "block method at 2000 KBps:  $block_rate B/s, designed $((2000 * 500 * 1000 / 600)) B/s ($block)"

# Resume: the first run is killed once half the body is in its temporary
# file; the second run asks only for the rest.
"$run" "$bench" resume "$port" /store/bench/big.bin "$zout\\resume.bin" "Z:$dir/agent" >/dev/null 2>&1 &
first=$!
partial=0
for _ in $(seq 1 1200); do
  partial=$(stat -c %s "$dir"/agent/DownloadRepository/*.download 2>/dev/null | head -n 1 || echo 0)
  [ "${partial:-0}" -ge $((GIB / 2)) ] && break
  sleep 0.05
done
kill -9 "$first" 2>/dev/null || true
wait "$first" 2>/dev/null || true
"$run" wineserver -w >/dev/null 2>&1 || true
partial=$(stat -c %s "$dir"/agent/DownloadRepository/*.download 2>/dev/null | head -n 1 || echo 0)
second=$("$run" "$bench" resume "$port" /store/bench/big.bin "$zout\\resume.bin" "Z:$dir/agent" | tr -d '\r')
sent=$(grep 'GET /store/bench/big.bin' "$servers/logs/nginx-access.log" | tail -n 1 | awk '{ print $10 }')
echo "resume: partial $partial bytes after the kill, the second run was sent $sent bytes ($second)"

peak=$(field peak_bytes "$engine")
awk -v e="$engine_mbs" -v r="$raw_mbs" -v g="$gathered_mbs" -v w="$window_rate" -v bl="$block_rate" -v s="$sent" -v p="$partial" \
    -v size=$GIB -v peak="$peak" 'BEGIN {
  d = 2000 * 500 / 0.6
  printf "RESULT throughput_ratio %.3f\n", e / r
  printf "RESULT throughput_ratio_gathered %.3f\n", e / g
  printf "RESULT window_rate_error %.3f\n", (w > 2000000 ? w - 2000000 : 2000000 - w) / 2000000
  printf "RESULT block_rate_error %.3f\n", (bl > d ? bl - d : d - bl) / d
  printf "RESULT resume_extra %.4f\n", (s - (size - p)) / size
  printf "RESULT peak_mib %.1f\n", peak / 1048576
}'
