# Shared by scripts/demo and the whole-process benchmark: a private Wine prefix
# with a seeded agent, an installed Click-to-Run Office and an installer
# package that holds the setup stand-in. Source it; it defines functions only.

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64

# prefix_start <prefix dir>: creates the prefix once and keeps one wineserver.
prefix_start() {
  export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY DISPLAY
  mkdir -p "$WINEPREFIX"
  $WINESERVER -p </dev/null >/dev/null 2>&1 || true
  if [ ! -f "$WINEPREFIX/.ready" ]; then
    echo "Creating a private Wine prefix in $WINEPREFIX (about 10 s)..."
    $WINE wineboot -i </dev/null >/dev/null 2>&1 && touch "$WINEPREFIX/.ready"
  fi
}

prefix_stop() { $WINESERVER -k >/dev/null 2>&1 || true; }

# win_path <linux path>: the same place as Wine's drive Z: sees it.
win_path() { local p="Z:$1"; echo "${p//\//\\}"; }

reg32() { $WINE reg add "$@" /reg:32 /f >/dev/null; }
reg64() { $WINE reg add "$@" /reg:64 /f >/dev/null; }

# seed_agent <agent dir> <log level>: the agent's registry as a managed
# machine has it, with the management server on 127.0.0.1.
seed_agent() {
  local dir_win; dir_win="$(win_path "$1")\\"
  local agent='HKLM\Software\Varnholt\Plexmoor\RZAgent'
  local server="$agent\\ServerInfo"
  $WINE reg delete 'HKLM\Software\Varnholt' /reg:32 /f >/dev/null 2>&1 || true
  reg32 "$agent" /v RZAgentInstallDir /t REG_SZ /d "$dir_win"
  reg32 "$agent" /v RZAgentLogLevel /t REG_DWORD /d "$2"
  reg32 "$agent" /v AgentServiceName /t REG_SZ /d "RZAgentService"
  reg32 "$agent" /v MSPName /t REG_SZ /d "Demo MSP"
  reg32 "$agent" /v CustomerId /t REG_SZ /d "ACME1"
  reg32 "$agent" /v CustomerName /t REG_SZ /d "Acme Corporation"
  reg32 "$agent" /v RZAgentVersion /t REG_SZ /d "10.4.2"
  reg32 "$agent" /v EnableDistributionServer /t REG_SZ /d "no"
  reg32 "$agent" /v EnableDSRoute /t REG_SZ /d "no"
  reg32 "$agent" /v DataTransferRate_KBps /t REG_SZ /d "0"
  reg32 "$agent" /v ProxyEnabled /t REG_SZ /d "no"
  reg32 "$server" /v RZServerName /t REG_SZ /d "127.0.0.1"
  reg32 "$server" /v RZServerFlatName /t REG_SZ /d "localhost"
  reg32 "$server" /v RZServerIPAddress /t REG_SZ /d "127.0.0.1"
  reg32 "$server" /v RZServerPort /t REG_SZ /d "8020"
  reg32 "$server" /v RZServerSecurePort /t REG_SZ /d "8443"
  reg32 "$server" /v RZLastAccessName /t REG_SZ /d "127.0.0.1"
  reg32 "$server" /v RZServerProtocol /t REG_SZ /d "https"
  reg32 "$server" /v RZProductCode /t REG_SZ /d "RZEE"
}

# seed_office <cultures> : an installed Office 16.0 Click-to-Run, in both views.
seed_office() {
  local c2r='HKLM\SOFTWARE\Microsoft\Office\ClickToRun\Configuration'
  $WINE reg delete 'HKLM\SOFTWARE\Microsoft\Office\ClickToRun' /reg:64 /f >/dev/null 2>&1 || true
  $WINE reg delete 'HKLM\SOFTWARE\Microsoft\Office\ClickToRun' /reg:32 /f >/dev/null 2>&1 || true
  reg64 "$c2r" /v ClientCulture /t REG_SZ /d "$1"
  reg64 "$c2r" /v ProductReleaseIds /t REG_SZ /d "O365ProPlusRetail"
  reg64 "$c2r" /v VersionToReport /t REG_SZ /d "16.0.17126.20132"
  reg64 "$c2r" /v Platform /t REG_SZ /d "x64"
  reg64 "$c2r" /v UpdateChannel /t REG_SZ /d "http://officecdn.microsoft.com/pr/492350f6-3a01-4f97-b9c0-c7c6ddf67d60"
  reg64 "$c2r" /v UpdateURL /t REG_SZ /d "https://127.0.0.1:8443/store/office/12"
  reg32 "$c2r" /v UpdateChannel /t REG_SZ /d "http://officecdn.microsoft.com/pr/492350f6-3a01-4f97-b9c0-c7c6ddf67d60"
  reg32 "$c2r" /v UpdateURL /t REG_SZ /d "https://127.0.0.1:8443/store/office/12"
}

# write_settings <agent dir> <how_to_install> <culture>...: the server's settings document.
write_settings() {
  local dir=$1 how=$2; shift 2
  mkdir -p "$dir/client-data"
  {
    echo '<?xml version="1.0" encoding="utf-8"?>'
    echo '<office-ctr-settings>'
    local id=1
    for culture in "$@"; do
      echo "  <O365Languages language_id=\"$id\" o365_abbreviation=\"$culture\"/>"
      echo "  <O365CTRLanguages language_id=\"$id\"/>"
      id=$((id + 1))
    done
    echo "  <O365CTRSettings how_to_install=\"$how\"/>"
    echo '</office-ctr-settings>'
  } > "$dir/client-data/office-ctr-settings.xml"
}

# place_installer <agent dir> <record dir> <script lines>: the downloaded
# installer package (the setup stand-in) and the script it follows.
place_installer() {
  local dir=$1 record=$2 script=$3
  mkdir -p "$dir/patches" "$record"
  cp "$STANDIN" "$dir/patches/12-office.exe"
  printf '%s\nrecord_dir=%s\n' "$script" "$(win_path "$record")" > "$dir/patches/setup_standin.txt"
}

# publish_package <store dir> <patch id>: the package-file list of the files
# already in <store>/office/<patch id>, as the server publishes it: a JSON
# object of name -> SHA-256, in the trivial encoding the decryptor stand-in
# reverses (every byte XOR 0x5A).
publish_package() {
  python3 - "$1/office/$2" "$2" <<'PY'
import hashlib, json, pathlib, sys
folder, patch = pathlib.Path(sys.argv[1]), sys.argv[2]
listing = {}
for path in sorted(folder.rglob("*")):
    if path.is_file() and path.name != patch + ".json":
        digest = hashlib.sha256()
        with open(path, "rb") as data:
            for block in iter(lambda: data.read(1 << 20), b""):
                digest.update(block)
        listing["\\".join(path.relative_to(folder).parts)] = digest.hexdigest()
text = json.dumps(listing, indent=1).encode()
(folder / (patch + ".json")).write_bytes(bytes(b ^ 0x5A for b in text))
PY
}

# place_decryptor <agent dir> <script lines>: the agent's list decryptor.
place_decryptor() {
  mkdir -p "$1/patches"
  cp "$DECRYPTOR" "$1/patches/officemeta.exe"
  printf '%s\n' "$2" > "$1/patches/officemeta.txt"
}

# servers_start <dir>: nginx with a store (and the other test servers) on
# free 127.0.0.1 ports; sets STORE_PORT and STORE_DIR.
servers_start() {
  SERVERS_DIR=$1
  python3 tests/servers/servers.py start "$SERVERS_DIR" >/dev/null
  STORE_PORT=$(sed -n 's/^nginx_https_port=//p' "$SERVERS_DIR/servers.ini")
  STORE_DIR=$(sed -n 's/^store_dir=//p' "$SERVERS_DIR/servers.ini")
}
servers_stop() { [ -z "${SERVERS_DIR:-}" ] || python3 tests/servers/servers.py stop "$SERVERS_DIR" >/dev/null 2>&1 || true; }

# exit_meaning <agent folder>: what the exit code of the agent's last run
# means, as its closing log line says (the step that gave the code decides).
exit_meaning() {
  sed 's/\r$//' "$1/logs/rzprereqhandler.log" | grep -F 'Run summary : exit code ' | tail -n 1 \
    | sed 's/.*Run summary : exit code [-0-9]* (\(.*\)); installed from : .*/\1/'
}
