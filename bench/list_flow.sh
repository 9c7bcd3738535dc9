#!/usr/bin/env bash
# The package-file list flow against the raw transport, in one run: nginx
# serves a package of 8 files (1 GiB in all) and its list; the raw WinHTTP
# loop of bench/transport.sh fetches the 8 files one after the other, then a
# whole deployment of the program goes straight to the list flow (setup
# stand-in exiting at once): list, decryption, 8 checked downloads, setup.
# The same loop with its reads gathered into 1 MiB writes is the second,
# stronger reference.
# The program's peak working set is read from Linux while it runs. Three
# alternating passes of each; the medians are compared. A fourth deployment,
# untimed and with debug lines, counts what its progress logged and wrote to
# the registry.
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

# raw_pass <raw|gathered>: that loop on the 8 files, one after the other;
# prints its ms.
raw_pass() {
  local total=0 i line ms
  for i in $(seq 1 $files); do
    line=$($WINE build/x86_64/bin/transport_bench.exe "$1" "$STORE_PORT" "/store/office/$patch/part$i.cab" \
           "$(win_path "$bench/out/raw$i.cab")" | tr -d '\r')
    ms=$(sed -n 's/.*ms=\([0-9.]*\).*/\1/p' <<<"$line")
    total=$(awk -v a="$total" -v b="$ms" 'BEGIN { print a + b }')
    rm -f "$bench/out/raw$i.cab"
  done
  echo "$total"
}

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

# deploy_pass: one whole deployment; prints "<wall ms> <peak KiB>". The
# loader becomes the program's own process: its peak resident set (what Wine
# reports as the peak working set) is read until it ends.
deploy_pass() {
  local start end runner hwm peak=0
  start=$(date +%s%N)
  $WINE "$agent/731-OfficeInstaller.exe" -pid $patch -ch Current -oce 64 -in 12-office.exe \
    -prid O365ProPlusRetail -v 16.0.1 >/dev/null 2>&1 &
  runner=$!
  while kill -0 $runner 2>/dev/null; do
    hwm=$(sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$runner/status" 2>/dev/null || true)
    [ -n "$hwm" ] && [ "$hwm" -gt "$peak" ] && peak=$hwm
    sleep 0.05
  done
  wait $runner || true
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000000 )) $peak"
}

# Alternating passes, the median of three for each: a single pass of either
# can be slowed by the machine's other work.
raws=(); gathereds=(); deploys=(); peak_kib=0
for _ in 1 2 3; do
  raws+=("$(raw_pass raw)")
  gathereds+=("$(raw_pass gathered)")
  read -r ms kib <<<"$(deploy_pass)"
  deploys+=("$ms")
  [ "$kib" -gt "$peak_kib" ] && peak_kib=$kib
done
median() { printf '%s\n' "$@" | sort -n | sed -n 2p; }
raw_ms=$(median "${raws[@]}")
gathered_ms=$(median "${gathereds[@]}")
deploy_ms=$(median "${deploys[@]}")

log="$agent/logs/rzprereqhandler.log"
fetched=$(grep -c "GET /store/office/$patch/part" "$SERVERS_DIR/logs/nginx-access.log" || true)
# One more deployment, untimed, with debug lines, which name every registry
# write: what the progress of one 1 GiB deployment logged and recorded.
timed_lines=$(grep -c "Download progress : " "$log" || true)
mv "$log" "$log.timed"
reg32 'HKLM\Software\Varnholt\Plexmoor\RZAgent' /v RZAgentLogLevel /t REG_DWORD /d 3
deploy_pass >/dev/null
progress_lines=$(grep -c "Download progress : " "$log" || true)
progress_writes=$(grep -c "writeValue: Value Name: DownloadProgress " "$log" || true)
mv "$log.timed" "$log"
echo "raw WinHTTP loop, $files files of $((size / 1048576)) MiB: median $raw_ms ms (${raws[*]})"
echo "gathered WinHTTP loop, same files: median $gathered_ms ms (${gathereds[*]})"
echo "whole list-flow deployment: median $deploy_ms ms (${deploys[*]}); last run: $(grep -o 'Exit Code : [0-9]*' "$log" | tail -n 1)"
echo "file requests nginx saw: $fetched (6 raw passes and 3 deployments of $files files)"
echo "progress of one 1 GiB deployment: $progress_lines log lines, $progress_writes registry writes" \
     "(a fourth, untimed deployment; the three timed ones logged $timed_lines progress lines)"
awk -v raw="$raw_ms" -v gathered="$gathered_ms" -v run="$deploy_ms" -v peak="$peak_kib" 'BEGIN {
  printf "RESULT list_flow_ratio %.2f\n", raw / run
  printf "RESULT list_flow_ratio_gathered %.2f\n", gathered / run
  printf "RESULT list_flow_peak_mib %.1f\n", peak / 1024
}'
