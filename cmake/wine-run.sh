#!/usr/bin/env bash
# Runs one Windows executable under Wine in the project's private prefix.
# ctest uses it as the cross-compiling emulator; the prefix must already exist
# (./run.sh creates it), because creating it here would race between tests.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export WINEPREFIX="${EMB_WINEPREFIX:-$here/../build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-run.sh: no Wine prefix at $WINEPREFIX; run ./run.sh test or ./run.sh wineprefix" >&2
  exit 125
fi
# A test of real windows needs a Wine server of its own display: a server
# started without one (by ./run.sh, or by an earlier test: it lingers) would
# create the test's windows where they never become visible. Only for a test
# that runs alone: this ends the server under every other Wine process.
if [ -n "${EMB_WINE_OWN_SERVER:-}" ]; then wineserver -k 2>/dev/null || true; wineserver -w; fi
exec wine "$@"
