#!/usr/bin/env bash
# A full install of 2,000 small files (4-64 KiB) from nginx behind a proxy
# that adds a round trip of 30 ms (bench/latency_proxy.py), as a player far
# from the patch server sees it. Printed beside the floor of that run: every
# request (one size probe and one download per file) waiting one round trip,
# spread over the connections in use.
#
#   bench/latency_run.sh [BIN_DIR]      (default build/linux/bin)
#   EMB_BENCH_RTT_MS / EMB_BENCH_FILES  change the round trip and the count
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
BIN="${1:-build/linux/bin}"
RTT="${EMB_BENCH_RTT_MS:-30}"
FILES="${EMB_BENCH_FILES:-2000}"
for tool in "$BIN/embpatch" "$BIN/make_game"; do
  [ -x "$tool" ] || { echo "missing $tool (./run.sh build linux)" >&2; exit 2; }
done

WORK="$(mktemp -d /tmp/emb-latency-bench.XXXXXX)"
proxy_pid=""
cleanup() {
  [ -n "$proxy_pid" ] && kill "$proxy_pid" 2>/dev/null || true
  tools/nginx-serve.sh stop "$WORK/nginx"
  rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$WORK/www"
port="$(tools/nginx-serve.sh start "$WORK/www" "$WORK/nginx" quiet)"
proxy_port=""
for _ in $(seq 1 50); do
  candidate=$((20000 + RANDOM % 40000))
  (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null && continue
  proxy_port=$candidate
  break
done
python3 bench/latency_proxy.py "$proxy_port" "$port" $((RTT / 2)) 900 > "$WORK/proxy.out" &
proxy_pid=$!
for _ in $(seq 1 100); do grep -q ready "$WORK/proxy.out" 2>/dev/null && break; sleep 0.05; done

# make_game's sizes run from half to one and a half of the mean: a mean of
# 34 KiB gives files of about 17-51 KiB, beside one archive of a twelfth.
"$BIN/make_game" "$WORK/source" "$FILES" $((FILES * 34 / 1024 * 12 / 11)) >/dev/null
base="http://127.0.0.1:$proxy_port"
"$BIN/embpatch" publish --from "$WORK/source" --web-root "$WORK/www" \
  --crcpatch-url "$base/patch" --version 1 --level 1 >/dev/null 2>&1

run() {  # run CONNECTIONS: wall seconds of a full install
  rm -rf "$WORK/game"
  local extra=() start end
  [ "$1" != "-" ] && extra=(--connections "$1")
  start=$(date +%s%N)
  "$BIN/embpatch" run --game-dir "$WORK/game" --config-url "$base/new/emb.launcher.config.xml" \
    --lang en "${extra[@]}" > "$WORK/run.out" 2>&1 || { tail -3 "$WORK/run.out"; exit 1; }
  end=$(date +%s%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", (e - s) / 1e9 }'
}

requests=$((2 * FILES))
if "$BIN/embpatch" run --help 2>&1 | grep -q -- --connections; then
  one=$(run 1)
  six=$(run 6)
  awk -v one="$one" -v six="$six" -v n="$requests" -v rtt="$RTT" 'BEGIN {
    floor = n * rtt / 1000 / 6
    printf "full install, %d requests at %d ms: 1 connection %.2f s, 6 connections %.2f s\n", n, rtt, one, six
    printf "speed-up %.2fx (target >= 5); 6 connections vs floor %.2f s: %.2fx (target <= 1.5)\n", one / six, floor, six / floor }'
else
  one=$(run -)
  awk -v one="$one" -v n="$requests" -v rtt="$RTT" 'BEGIN {
    floor = n * rtt / 1000
    printf "full install, %d requests at %d ms, one request at a time: %.2f s; floor %.2f s: %.2fx\n", n, rtt, one, floor, one / floor }'
fi
