#!/usr/bin/env bash
# The package-file list flow against the raw transport, in one run: nginx
# serves a package of 8 files (1 GiB in all) and its list; the raw WinHTTP
# loop of bench/transport.sh fetches the 8 files one after the other, then a
# whole deployment of the program goes straight to the list flow (setup
# stand-in exiting at once): list, decryption, 8 checked downloads, setup.
# The program's peak working set is read from Linux while it runs.
# Prints figures and ends with RESULT lines; never fails on them.
#   bench/list_flow.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/bootstrap >/dev/null
cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64 --target OfficeInstaller setup_standin officemeta_standin transport_bench >/dev/null

. scripts/lib/agent-prefix.sh
STANDIN="$root/build/x86_64/bin/setup_standin.exe"
DECRYPTOR="$root/build/x86_64/bin/officemeta_standin.exe"
bench="$root/build/bench/list_flow"
rm -rf "$bench"; mkdir -p "$bench/out"
prefix_start "$root/build/bench/wineprefix"
servers_start "$bench/servers"
trap 'servers_stop; prefix_stop' EXIT

patch=77
files=8
size=$((128 * 1024 * 1024))
package="$STORE_DIR/office/$patch"
mkdir -p "$package"
for i in $(seq 1 $files); do
  # Different bytes in every file, written fast: a short random head, then zeros.
  head -c 4096 /dev/urandom > "$package/part$i.cab"
  truncate -s $size "$package/part$i.cab"
done
publish_package "$STORE_DIR" $patch

# The raw loop on the same 8 files.
raw_ms=0
for i in $(seq 1 $files); do
  line=$($WINE build/x86_64/bin/transport_bench.exe raw "$STORE_PORT" "/store/office/$patch/part$i.cab" \
         "$(win_path "$bench/out/raw$i.cab")" | tr -d '\r')
  ms=$(sed -n 's/.*ms=\([0-9.]*\).*/\1/p' <<<"$line")
  raw_ms=$(awk -v a="$raw_ms" -v b="$ms" 'BEGIN { print a + b }')
  rm -f "$bench/out/raw$i.cab"
done

# The whole deployment: the old flow straight away.
agent="$bench/agent"
mkdir -p "$agent/data" "$agent/logs"
cp build/x86_64/bin/OfficeInstaller.exe "$agent/731-OfficeInstaller.exe"
seed_agent "$agent" 2
reg32 'HKLM\Software\Varnholt\Plexmoor\RZAgent\ServerInfo' /v RZServerSecurePort /t REG_SZ /d "$STORE_PORT"
reg32 'HKLM\Software\Varnholt\Plexmoor\RZAgent\Patch\OfficePatchData' /v ProceedOldFlowDirectly /t REG_DWORD /d 1
seed_office "en-us"
write_settings "$agent" 1 en-us
place_installer "$agent" "$bench/record" ""
place_decryptor "$agent" ""

start=$(date +%s%N)
$WINE "$agent/731-OfficeInstaller.exe" -pid $patch -ch Current -oce 64 -in 12-office.exe \
  -prid O365ProPlusRetail -v 16.0.1 >/dev/null 2>&1 &
runner=$!
# The loader becomes the program's own process: its peak resident set (what
# Wine reports as the peak working set), read until it ends.
peak_kib=0
while kill -0 $runner 2>/dev/null; do
  hwm=$(sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$runner/status" 2>/dev/null || true)
  [ -n "$hwm" ] && [ "$hwm" -gt "$peak_kib" ] && peak_kib=$hwm
  sleep 0.05
done
wait $runner || true
end=$(date +%s%N)
deploy_ms=$(( (end - start) / 1000000 ))

log="$agent/logs/rzprereqhandler.log"
fetched=$(grep -c "GET /store/office/$patch/part" "$SERVERS_DIR/logs/nginx-access.log" || true)
echo "raw WinHTTP loop, $files files of $((size / 1048576)) MiB: $raw_ms ms"
echo "whole list-flow deployment: $deploy_ms ms, $(grep -o 'Exit Code : [0-9]*' "$log" | tail -n 1), $fetched file requests"
awk -v raw="$raw_ms" -v run="$deploy_ms" -v peak="$peak_kib" 'BEGIN {
  printf "RESULT list_flow_ratio %.2f\n", raw / run
  printf "RESULT list_flow_peak_mib %.1f\n", peak / 1024
}'
