#!/usr/bin/env bash
# A whole patch run from nginx on loopback, beside a baseline measured in the
# same run: a game of 1,000 files / 300 MiB is published, an empty folder is
# brought up to date with `embpatch run`, then a warm re-run follows.
#
# Baseline: curl fetching the same payloads over one kept-alive connection,
# then liblzo2's safe decoder decoding them into files.
# Targets: the full run (six connections, embpatch run's default) at least
# 1.3x the baseline's throughput; the warm re-run requests no payload and no
# size probe and opens no game file for reading; peak memory (max RSS) at
# most 2.2 x the largest file + 64 MiB.
#
#   bench/whole_run.sh [BIN_DIR]      (default build/linux/bin)
#   EMB_BENCH_FILES / EMB_BENCH_MIB   change the game's size
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
BIN="${1:-build/linux/bin}"
FILES="${EMB_BENCH_FILES:-1000}"
MIB="${EMB_BENCH_MIB:-300}"
for tool in "$BIN/embpatch" "$BIN/make_game" "$BIN/lzo_decode_payloads"; do
  [ -x "$tool" ] || { echo "missing $tool (./run.sh build linux)" >&2; exit 2; }
done
for cmd in nginx curl strace /usr/bin/time; do
  command -v "$cmd" >/dev/null || { echo "$cmd not installed" >&2; exit 2; }
done

WORK="$(mktemp -d /tmp/emb-run-bench.XXXXXX)"
cleanup() {
  tools/nginx-serve.sh stop "$WORK/nginx"
  rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$WORK/www"
port="$(tools/nginx-serve.sh start "$WORK/www" "$WORK/nginx")"
base="http://127.0.0.1:$port"

echo "== making the game ($FILES files, $MIB MiB)"
"$BIN/make_game" "$WORK/source" "$FILES" "$MIB"
largest=$(find "$WORK/source" -type f -printf '%s\n' | sort -n | tail -1)

echo "== publishing (LZO1X-1)"
"$BIN/embpatch" publish --from "$WORK/source" --web-root "$WORK/www" \
  --crcpatch-url "$base/patch" --version 1 --level 1 | head -1
payload_bytes=$(find "$WORK/www/patch" -name '*.lz' -printf '%s\n' | awk '{s+=$1} END {print s}')
decoded_bytes=$(find "$WORK/source" -type f -printf '%s\n' | awk '{s+=$1} END {print s}')

seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
now() { date +%s.%N; }

# Each timed part starts with nothing left to write back, so that neither
# pays for the disk writing out what the part before it wrote.
settle() { sync; }

echo "== baseline: curl + liblzo2"
awk -v base="$base/patch/1/" -v dir="$WORK/fetched/" '
  /^#/ || NF < 5 { next }
  { path = $0; sub(/^[^ ]+ [^ ]+ [^ ]+ [^ ]+ /, "", path)
    url = path; gsub(/ /, "%20", url)
    printf "url = \"%s%s.lz\"\noutput = \"%s%s.lz\"\n", base, url, dir, path }' \
  "$WORK/www/patch/1/crclist" > "$WORK/curl.cfg"
settle
t0=$(now)
curl -s --create-dirs -K "$WORK/curl.cfg"
t1=$(now)
"$BIN/lzo_decode_payloads" "$WORK/www/patch/1/crclist" "$WORK/fetched" "$WORK/decoded" >/dev/null
t2=$(now)
baseline=$(seconds "$t0" "$t2")
echo "curl $(seconds "$t0" "$t1") s + liblzo2 $(seconds "$t1" "$t2") s = $baseline s"

echo "== embpatch run into an empty folder"
: > "$WORK/nginx/access.log"
settle
/usr/bin/time -f "%e %M" -o "$WORK/time.full" \
  "$BIN/embpatch" run --game-dir "$WORK/game" --config-url "$base/new/emb.launcher.config.xml" --lang en \
  > "$WORK/run.full" 2>&1 || { cat "$WORK/run.full"; exit 1; }
tail -2 "$WORK/run.full"
read -r full_s full_kb < "$WORK/time.full"
diff -rq --exclude=EmbLauncher.cache "$WORK/source" "$WORK/game" >/dev/null && echo "game folder identical to the source"

echo "== warm re-run"
: > "$WORK/nginx/access.log"
/usr/bin/time -f "%e %M" -o "$WORK/time.warm" \
  strace -f -qq -e trace=openat -o "$WORK/trace" \
  "$BIN/embpatch" run --game-dir "$WORK/game" --config-url "$base/new/emb.launcher.config.xml" --lang en \
  > "$WORK/run.warm" 2>&1
tail -2 "$WORK/run.warm"
read -r warm_s warm_kb < "$WORK/time.warm"
payload_requests=$(grep -c '\.lz ' "$WORK/nginx/access.log" || true)
content_opens=$(grep -F "$WORK/game/" "$WORK/trace" | grep -v O_PATH | grep -v -e O_DIRECTORY -e O_WRONLY \
  -e EmbLauncher.cache | grep -c O_RDONLY || true)

echo
echo "== results"
awk -v payload="$payload_bytes" -v decoded="$decoded_bytes" -v full="$full_s" -v base="$baseline" \
    -v rss="$full_kb" -v largest="$largest" -v warm="$warm_s" -v files="$FILES" \
    -v requests="$payload_requests" -v opens="$content_opens" 'BEGIN {
  ours = payload / 1048576 / full; theirs = payload / 1048576 / base
  budget = (2.2 * largest + 64 * 1048576) / 1024
  printf "full run:  %.2f s, %.1f MiB/s of payload (%.1f MiB/s of files)\n", full, ours, decoded / 1048576 / full
  printf "baseline:  %.2f s, %.1f MiB/s of payload\n", base, theirs
  printf "ratio:     %.2f (target >= 1.30)\n", ours / theirs
  printf "peak RSS:  %.1f MiB, budget %.1f MiB (2.2 x largest %.1f MiB + 64 MiB): %s\n", rss / 1024, budget / 1024, largest / 1048576, rss <= budget ? "within" : "OVER"
  printf "warm run:  %.2f s for %d files; %d payload/probe requests, %d game files opened for reading\n", warm, files, requests, opens
}'
