#!/usr/bin/env bash
# Whole-process cost of a deployment: the wall time of a successful run (the
# setup stand-in exits at once) against the wall time of a trivial program
# started the same way, in the same Wine prefix with the same wineserver.
# The difference is the program's own cost. Prints figures; never fails on them.
#   bench/deployment_run.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-20}
scripts/bootstrap >/dev/null
cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64 --target OfficeInstaller setup_standin child_standin >/dev/null

. scripts/lib/agent-prefix.sh
STANDIN="$root/build/x86_64/bin/setup_standin.exe"
bench="$root/build/bench"
prefix_start "$bench/wineprefix"
trap prefix_stop EXIT

agent="$bench/agent"
rm -rf "$agent" "$bench/record"; mkdir -p "$agent/data" "$agent/logs"
cp build/x86_64/bin/OfficeInstaller.exe "$agent/731-OfficeInstaller.exe"
cp build/x86_64/bin/child_standin.exe "$agent/trivial.exe"
seed_agent "$agent" 2
seed_office "en-us"
write_settings "$agent" 1 en-us
place_installer "$agent" "$bench/record" ""

deploy=("$agent/731-OfficeInstaller.exe" -pid 12 -ch Current -oce 64 -in 12-office.exe -prid O365ProPlusRetail -v 16.0.1)
trivial=("$agent/trivial.exe" 0 0)

# time_runs <label> <command...>: prints median and mean wall time in ms.
time_runs() {
  local label=$1; shift
  local times=() i start end
  "$WINE" "$@" >/dev/null 2>&1 || true  # warm the file cache
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    "$WINE" "$@" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk -v label="$label" '
    { t[NR] = $1; sum += $1 }
    END { median = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2;
          printf "%-34s median %8.1f ms   mean %8.1f ms   (%d runs)\n", label, median / 1000, sum / NR / 1000, NR }'
}

echo "Whole-process wall time, $runs runs each, one Wine prefix and wineserver:"
time_runs "trivial program (exit at once)" "${trivial[@]}"
time_runs "successful deployment run" "${deploy[@]}"
if ! grep -q "Exit Code : 0" "$agent/logs/rzprereqhandler.log"; then
  echo "warning: the last deployment run did not end with exit code 0" >&2
fi
