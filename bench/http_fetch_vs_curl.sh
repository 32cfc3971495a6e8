#!/usr/bin/env bash
# HttpSession against curl, both fetching from nginx on loopback over one
# kept-alive connection: one 512 MiB file, and 2,000 files of 4-64 KiB.
# Prints each side's throughput (best of three rounds) and ours/curl.
# Target: at least 0.9. "Buffer reused" measures the client alone; a fresh
# 512 MiB buffer also pays the kernel for first-touching that memory, which
# curl writing to /dev/null never does.
#
#   bench/http_fetch_vs_curl.sh [BIN_DIR]     (default build/linux/bin)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
BIN="${1:-build/linux/bin}"
CLIENT="$BIN/http_fetch_client"
ROUNDS="${EMB_BENCH_ROUNDS:-3}"
[ -x "$CLIENT" ] || { echo "missing $CLIENT (./run.sh build linux)" >&2; exit 2; }
command -v nginx >/dev/null || { echo "nginx not installed" >&2; exit 2; }
command -v curl >/dev/null || { echo "curl not installed" >&2; exit 2; }

WORK="$(mktemp -d /tmp/emb-http-bench.XXXXXX)"
NGINX_PID=""
cleanup() {
  if [ -n "$NGINX_PID" ] && kill -0 "$NGINX_PID" 2>/dev/null; then
    kill "$NGINX_PID" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$NGINX_PID" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

mkdir -p "$WORK/www/small" "$WORK/logs" "$WORK/tmp"
head -c $((512 * 1024 * 1024)) /dev/urandom > "$WORK/www/big.bin"
head -c $((64 * 1024)) /dev/urandom > "$WORK/random64k"
awk 'BEGIN { srand(42); for (i = 0; i < 2000; i++) printf "%04d %d\n", i, 4096 + int(rand() * (65536 - 4096 + 1)) }' \
  > "$WORK/sizes"
while read -r n size; do
  head -c "$size" "$WORK/random64k" > "$WORK/www/small/f$n.bin"
done < "$WORK/sizes"
chmod -R a+rX "$WORK"

start_nginx() {
  local port="$1"
  cat > "$WORK/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $WORK/nginx.pid;
error_log $WORK/logs/error.log;
events { worker_connections 64; }
http {
  default_type application/octet-stream;
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 120s;
  keepalive_requests 100000;
  client_body_temp_path $WORK/tmp;
  proxy_temp_path $WORK/tmp;
  fastcgi_temp_path $WORK/tmp;
  uwsgi_temp_path $WORK/tmp;
  scgi_temp_path $WORK/tmp;
  server {
    listen 127.0.0.1:$port;
    root $WORK/www;
  }
}
CONF
  nginx -p "$WORK" -c "$WORK/nginx.conf" 2>>"$WORK/logs/start.log" &
  NGINX_PID=$!
  for _ in $(seq 100); do
    if curl -s -o /dev/null "http://127.0.0.1:$port/small/f0000.bin"; then return 0; fi
    kill -0 "$NGINX_PID" 2>/dev/null || { NGINX_PID=""; return 1; }
    sleep 0.05
  done
  return 1
}

PORT=""
for _ in $(seq 20); do
  candidate=$((20000 + RANDOM % 20000))
  if start_nginx "$candidate"; then PORT="$candidate"; break; fi
done
[ -n "$PORT" ] || { echo "nginx did not start:"; cat "$WORK/logs/"*.log; exit 1; }
BASE="http://127.0.0.1:$PORT"

echo "$BASE/big.bin" > "$WORK/big.list"
: > "$WORK/small.list"
: > "$WORK/small.curl"
while read -r n _; do
  echo "$BASE/small/f$n.bin" >> "$WORK/small.list"
  printf 'url = "%s"\noutput = "/dev/null"\n' "$BASE/small/f$n.bin" >> "$WORK/small.curl"
done < "$WORK/sizes"
SMALL_BYTES=$(awk '{ s += $2 } END { print s }' "$WORK/sizes")
BIG_BYTES=$((512 * 1024 * 1024))

# Each side's own clock: the client times its fetch loop, curl reports
# time_total per transfer; neither includes starting the process.
ours_seconds() {
  local expected_files="$1" expected_bytes="$2"; shift 2
  "$CLIENT" "$@" > "$WORK/out" 2> "$WORK/err" || { cat "$WORK/err" >&2; exit 1; }
  read -r files bytes seconds < "$WORK/out"
  [ "$files" = "$expected_files" ] && [ "$bytes" = "$expected_bytes" ] ||
    { echo "client fetched $files files / $bytes bytes, expected $expected_files / $expected_bytes" >&2; exit 1; }
  echo "$seconds"
}

curl_seconds() {
  # shellcheck disable=SC2068
  curl -s -S --fail -w '%{time_total}\n' $@ > "$WORK/curl.times" 2> "$WORK/err" ||
    { cat "$WORK/err" >&2; exit 1; }
  awk '{ s += $1 } END { printf "%.4f", s }' "$WORK/curl.times"
}

best() { sort -g | head -n 1; }

# run_case NAME FILES BYTES "CLIENT ARGS" "CURL ARGS"
run_case() {
  local name="$1" files="$2" bytes="$3" client_args="$4" curl_args="$5"
  local ours=() theirs=()
  for _ in $(seq "$ROUNDS"); do
    # shellcheck disable=SC2086
    ours+=("$(ours_seconds "$files" "$bytes" $client_args)")
    theirs+=("$(curl_seconds "$curl_args")")
  done
  local ours_best theirs_best
  ours_best=$(printf '%s\n' "${ours[@]}" | best)
  theirs_best=$(printf '%s\n' "${theirs[@]}" | best)
  awk -v n="$name" -v o="$ours_best" -v t="$theirs_best" -v b="$bytes" 'BEGIN {
    mb = b / 1048576
    printf "%-34s HttpSession %7.1f MiB/s (%.3f s)  curl %7.1f MiB/s (%.3f s)  ratio %.2f %s\n",
           n, mb / o, o, mb / t, t, t / o, (t / o >= 0.9 ? "ok" : "(below 0.9)")
  }'
}

echo "nginx $(nginx -v 2>&1 | sed 's/.*\///') on $BASE, best of $ROUNDS rounds; curl writes to /dev/null"
run_case "1 x 512 MiB, buffer reused" 1 "$BIG_BYTES" "--warm $WORK/big.list" "-o /dev/null $BASE/big.bin"
run_case "1 x 512 MiB, fresh buffer" 1 "$BIG_BYTES" "$WORK/big.list" "-o /dev/null $BASE/big.bin"
run_case "2000 x 4-64 KiB, fresh buffers" 2000 "$SMALL_BYTES" "$WORK/small.list" "-K $WORK/small.curl"
