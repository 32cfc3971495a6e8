#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The one entry point for developers and CI. Installs what a fresh Debian 12
# machine lacks, builds, and runs things.
#
#   ./run.sh demo          the main job: a demo patch run against a local server
#   ./run.sh demo --window the same server, with the real launcher.exe under Wine
#   ./run.sh test          every test: Linux (ASan+UBSan), Windows under Wine, fuzzing
#   ./run.sh build PRESET  configure and build one preset (linux, linux-asan, windows, fuzz)
#   ./run.sh fuzz [SECS]   run every fuzz target for SECS seconds each (default 30)
#   ./run.sh bench         build and run the benchmarks (Linux, RelWithDebInfo)
#   ./run.sh stats         lines of tests beside lines of product and tool code
#   ./run.sh mutation [ID...] how many planted faults the tests catch (tests/mutation)
#   ./run.sh setup         only install the Debian packages
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
ROOT="$PWD"

PACKAGES=(
  cmake make g++ clang libclang-rt-14-dev llvm
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libcurl4-openssl-dev zlib1g-dev liblzo2-dev libssl-dev openssl
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  wine wine64 xvfb xauth fonts-dejavu-core
  gstreamer1.0-libav gstreamer1.0-plugins-good x11-apps xdotool python3
  nginx-light curl strace time
)

log() { printf '\n=== %s\n' "$*"; }

setup() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# build PRESET [TARGET...]: every target when none is named.
build() {
  local preset="$1"
  shift
  log "build $preset $*"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" ${1:+--target "$@"}
}

# The private Wine prefix the Windows tests run in. Created before ctest:
# creating it during test discovery races between test executables.
export WINEPREFIX="${EMB_WINEPREFIX:-$ROOT/build/wineprefix}"
export EMB_WINEPREFIX="$WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

wine_prefix() {
  # A server left over from an earlier run would keep "wineserver -w" below
  # waiting forever.
  wineserver -k >/dev/null 2>&1 || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log "creating Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
  fi
  # Let the prefix settle (wineboot's helpers end, the registry is saved).
  wineserver -w
  # DirectWrite finds the launcher's font families only through these.
  if ! grep -q '"Bahnschrift"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    for family in "Bahnschrift" "Segoe UI"; do
      wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$family" /t REG_SZ \
        /d "DejaVu Sans" /f >/dev/null 2>&1 || true
    done
    wineserver -w
  fi
  # One server for the whole test run instead of one per test process.
  wineserver -p >/dev/null 2>&1 || true
  # Start Wine once with nothing to inherit. A test process that found no
  # server would start one itself, and that server would hold the test's
  # output pipe open for as long as it lives.
  wine cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
}

wine_stop() { wineserver -k >/dev/null 2>&1 || true; }

# The windows test preset runs a failed test once more: Wine has been seen,
# rarely and only under load, to fail a test process before it printed
# anything. A test that fails twice fails the run.
run_ctest() {
  local preset="$1"
  log "tests: $preset"
  ctest --preset "$preset" 2>&1 | tee "build/$preset/ctest.log"
  return "${PIPESTATUS[0]}"
}

fuzz() {
  local seconds="${1:-30}"
  # A target that does not build is not fuzzed: that is a failure, not a
  # quiet run of the targets that happen to be left over from an older build.
  if ! build fuzz; then
    echo "FUZZ FAILURE: the fuzz targets do not build"
    return 1
  fi
  local status=0
  for target in build/fuzz/bin/fuzz_*; do
    local name
    name="$(basename "$target")"
    local corpus="fuzz/corpus/${name#fuzz_}"
    local work="build/fuzz/work/${name#fuzz_}"
    mkdir -p "$work"
    log "fuzzing $name for ${seconds}s"
    if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 "$work" "$corpus" >"build/fuzz/$name.log" 2>&1; then
      tail -n 40 "build/fuzz/$name.log"
      echo "FUZZ FAILURE: $name"
      status=1
    else
      grep -E "stat::number_of_executed_units|Done [0-9]+ runs" "build/fuzz/$name.log" | tail -n 2
    fi
  done
  return $status
}

test_all() {
  setup
  local status=0 linux=0 windows=0 fuzzing=0 floors=0
  log "floors"
  python3 .ci/check_floors.py || floors=$?
  build linux-asan && run_ctest linux-asan || linux=$?
  if build windows; then
    wine_prefix
    run_ctest windows || windows=$?
    wine_stop
  else
    windows=1
  fi
  fuzz "${EMB_FUZZ_SECONDS:-30}" || fuzzing=$?
  log "summary"
  for preset in linux-asan windows; do
    printf '%-11s ' "$preset:"
    grep -E "tests passed|tests failed" "build/$preset/ctest.log" 2>/dev/null | tail -n 1 || echo "no test run"
  done
  printf '%-11s %s\n' "fuzzing:" "$([ $fuzzing -eq 0 ] && echo "no findings" || echo FAILED)"
  printf '%-11s %s\n' "floors:" "$([ $floors -eq 0 ] && echo "kept" || echo FAILED)"
  [ $linux -eq 0 ] && [ $windows -eq 0 ] && [ $fuzzing -eq 0 ] && [ $floors -eq 0 ] || status=1
  return $status
}

demo() {
  local window=0
  case "${1:-}" in
    "") ;;
    --window) window=1 ;;
    *) echo "usage: ./run.sh demo [--window]" >&2; return 2 ;;
  esac
  setup
  build linux embpatch
  local out="$ROOT/build/demo" embpatch="$ROOT/build/linux/bin/embpatch"
  rm -rf "$out"
  mkdir -p "$out"
  mkdir -p "$out/www"
  log "starting nginx on loopback"
  local port
  port="$(tools/nginx-serve.sh start "$out/www" "$out/nginx")"
  trap 'tools/nginx-serve.sh stop "$out/nginx"' EXIT
  local base="http://127.0.0.1:$port"

  if [ $window -eq 1 ]; then
    log "publishing demo/sample-game to the web root it serves ($base)"
    "$embpatch" publish --from demo/sample-game --web-root "$out/www" \
      --crcpatch-url "$base/patch" --version 1.0.0 --run-path emb.bin
    demo_window "$port" "$out"
  else
    demo_update "$embpatch" "$out" "$base"
  fi
  tools/nginx-serve.sh stop "$out/nginx"
  trap - EXIT
}

# Version 1.0.0 (demo/sample-game and a 4 MiB data file, large enough to be
# updated through chunks) into an empty folder, then 2.0.0, the same with
# 10000 bytes inserted in the middle of the data file, over it: the update
# fetches the chunks around the insertion, not the file.
demo_update() {
  local embpatch="$1" out="$2" base="$3" size=$((4 << 20))
  local config="$base/new/emb.launcher.config.xml" data="data/maps/world.dat"
  cp -r demo/sample-game "$out/v1"
  cp -r demo/sample-game "$out/v2"
  python3 - "$out/v1/$data" "$out/v2/$data" "$size" <<'PY'
import random, sys
old = random.Random(1).randbytes(int(sys.argv[3]))
middle = len(old) // 2
open(sys.argv[1], "wb").write(old)
open(sys.argv[2], "wb").write(old[:middle] + random.Random(2).randbytes(10000) + old[middle:])
PY

  log "publishing version 1.0.0 (demo/sample-game and $data, $size bytes) to $base"
  "$embpatch" publish --from "$out/v1" --web-root "$out/www" \
    --crcpatch-url "$base/patch" --version 1.0.0 --run-path emb.bin

  log "bringing an empty folder up to date"
  "$embpatch" run --game-dir "$out/game" --config-url "$config" --lang en

  log "publishing version 2.0.0 ($data with 10000 bytes inserted in the middle)"
  "$embpatch" publish --from "$out/v2" --web-root "$out/www" \
    --crcpatch-url "$base/patch" --version 2.0.0 --run-path emb.bin

  log "what updating from 1.0.0 to 2.0.0 costs"
  "$embpatch" update-cost --web-root "$out/www" --from 1.0.0 --to 2.0.0

  log "updating the game folder to 2.0.0"
  "$embpatch" run --game-dir "$out/game" --config-url "$config" --lang en > "$out/update.log" ||
    { cat "$out/update.log"; return 1; }
  tail -n 2 "$out/update.log"

  log "comparing the game folder with version 2.0.0"
  diff -r --exclude=EmbLauncher.cache "$out/v2" "$out/game" && echo "identical"
}

# launcher.exe, built for the demo server's port, brings a game folder of its
# own (the folder it sits in, as for players) up to date under Wine: on the
# user's display when there is one, else on Xvfb, where the window is
# photographed once it is ready to play and then closed.
demo_window() {
  local port="$1" out="$2" status=0
  log "building launcher.exe for the demo server on port $port"
  cmake --preset windows -DEMB_DEMO_PATCH_PORT="$port" >/dev/null
  cmake --build --preset windows --target emb_demo_launcher
  local game="$out/Emberfall Game"
  mkdir -p "$game"
  cp build/windows/bin/demo/launcher.exe "$game/"

  wine_prefix
  wine_stop
  # A prefix of the window's own (the screen tests' one): the shared prefix's
  # desktop was started without a display, and would keep every window of
  # that prefix off the screen.
  local prefix="$WINEPREFIX-screen"
  if [ ! -f "$prefix/system.reg" ]; then
    rm -rf "$prefix.part"
    cp -a "$WINEPREFIX" "$prefix.part"
    mv "$prefix.part" "$prefix"
  fi
  export WINEPREFIX="$prefix"
  wine_stop
  if [ -n "${DISPLAY:-}" ]; then
    log "launcher.exe on display $DISPLAY: close its window to end the demo"
    wine "$game/launcher.exe" </dev/null || true
  else
    log "launcher.exe on Xvfb (no DISPLAY): a screenshot once it is ready to play"
    xvfb-run -a -s "-screen 0 1920x1080x24" python3 - "$game" "$out/launcher_ready.png" <<'PY' || status=$?
import os, subprocess, sys, time
sys.path.insert(0, os.path.join(os.getcwd(), "tests", "e2e"))
from screen import BRUSH, CLEAR, blend, rgb8, screenshot, wait_for

game, shot = sys.argv[1], sys.argv[2]
log = open(os.path.join(os.path.dirname(shot), "launcher.log"), "w")
proc = subprocess.Popen(["wine", os.path.join(game, "launcher.exe")], stdin=subprocess.DEVNULL,
                        stdout=log, stderr=subprocess.STDOUT)

def geometry():
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Emb Launcher$"],
                           capture_output=True, text=True, timeout=30).stdout.split()
    if not found:
        return None
    shell = subprocess.run(["xdotool", "getwindowgeometry", "--shell", found[0]],
                           capture_output=True, text=True, timeout=30).stdout.split()
    g = dict(line.split("=", 1) for line in shell)
    return int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])

def ready(g):
    # The start button takes its ready face once the run has succeeded.
    x, y, w, _ = g
    s = w / 1124.0
    img = screenshot()
    face = blend(BRUSH["start_ready"], rgb8(CLEAR))
    return img if all(abs(a - b) <= 8 for a, b in zip(img.px(x + 912 * s, y + 546 * s), face)) else None

def while_running(check):
    if proc.poll() is not None:
        sys.exit("launcher.exe ended (exit %s); see %s" % (proc.returncode, log.name))
    return check()

try:
    g = wait_for(lambda: while_running(geometry), 120, 0.5)
    img = g and wait_for(lambda: while_running(lambda: ready(g)), 180, 0.5)
    if not img:
        sys.exit("launcher.exe did not reach READY TO PLAY in time; see %s" % log.name)
    x, y, w, h = g
    img.crop(x, y, w, h).save_png(shot)
    print("READY TO PLAY; screenshot: %s" % shot)
    # Closed by its own close button, as a player would.
    s = w / 1124.0
    subprocess.run(["xdotool", "mousemove", str(int(x + 1095 * s)), str(int(y + 24 * s)), "click", "1"],
                   timeout=30)
    if wait_for(lambda: proc.poll() is not None, 30) is None:
        sys.exit("launcher.exe did not close")
finally:
    if proc.poll() is None:
        proc.kill()
        proc.wait(timeout=30)
PY
  fi
  wine_stop
  return $status
}

bench() {
  setup
  build linux
  log "benchmarks"
  for b in build/linux/bin/bench_*; do
    [ -x "$b" ] || continue
    "$b"
  done
  # Benchmarks that need a server or a baseline tool start them themselves.
  for s in bench/*.sh; do
    [ -f "$s" ] || continue
    log "$(basename "$s")"
    bash "$s" build/linux/bin
  done
}

# The mutants of tests/mutation/mutants.py (all, or the given ids) against
# the tests that should catch them: portable code in build/linux, Windows-only
# files in build/windows under Wine. Slow; not part of ./run.sh test.
mutation() {
  setup
  cmake --preset linux >/dev/null
  cmake --preset windows >/dev/null
  wine_prefix
  local status=0
  python3 tests/mutation/run_mutants.py "$@" || status=$?
  wine_stop
  return $status
}

# Source lines (C/C++, Python, shell, CMake, resource scripts) under the
# given folders, test data excepted.
count_lines() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.inc' \
      -o -name '*.py' -o -name '*.sh' -o -name '*.cmake' -o -name 'CMakeLists.txt' -o -name '*.rc' \) \
      -not -path 'tests/data/*' -print0 | xargs -0 cat | wc -l
}

stats() {
  local tests code
  tests=$(count_lines tests)
  code=$(count_lines core net engine app ui launcher tools)
  awk -v t="$tests" -v c="$code" 'BEGIN {
    printf "tests %d lines, code %d lines (core net engine app ui launcher tools): tests are %.1f%% of code\n", t, c, 100 * t / c }'
}

case "${1:-}" in
  setup) setup ;;
  build) setup; build "${2:?preset}" ;;
  test) test_all ;;
  demo) demo "${2:-}" ;;
  fuzz) setup; fuzz "${2:-30}" ;;
  bench) bench ;;
  wineprefix) wine_prefix ;;
  stats) stats ;;
  mutation) shift; mutation "$@" ;;
  *) sed -n '3,14p' "$0"; exit 2 ;;
esac
