#!/usr/bin/env bash
# A chunked update from nginx on loopback, beside the whole-file update of
# the same two versions measured in the same run. bench/make_update.cpp
# writes a game whose archive (PACK_MIB) takes 100 edits of 1-256 KiB
# (overwrites, insertions, deletions) from v1 to v2, with 20 small files
# changed and 10 added; v3 is v2 with one byte inserted at the archive's
# start.
#
# Web root A is published with chunks (v1, v2, v3), web root B with
# --no-chunks (v1, v2). A game folder per root is brought to v1 with
# `embpatch run`, then to v2; nginx logs the body bytes of each response.
# Targets: the chunked update's bytes at most 1.5 x the LZO size of the
# changed bytes + the chunk index; at least 20 x fewer bytes than the
# whole-file update; v2's growth of web root A near the compressed changed
# bytes; the one-byte insertion needs at most 2 new chunks. With a small
# archive (32 MiB) the edits' chunks pass 70 % of its payload and the engine
# rightly takes the payload: both updates then cost the same.
#
#   bench/chunk_update.sh [BIN_DIR]      (default build/linux/bin)
#   EMB_BENCH_PACK_MIB   the archive's size (default 1024)
#   EMB_BENCH_LEVEL      compression level, 1 or 999 (default 1)
#   EMB_BENCH_RTT_MS     also time both updates behind bench/latency_proxy.py
#                        with this round trip (default 30; 0: not)
#   EMB_BENCH_RATE_MBIT  and this bandwidth per direction (default 100; 0:
#                        unlimited)
#   EMB_BENCH_CHUNK_SIZES  web root A's chunk sizes, "MIN,AVG,MAX" in KiB
#                        (default: embpatch's)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
BIN="${1:-build/linux/bin}"
PACK_MIB="${EMB_BENCH_PACK_MIB:-1024}"
LEVEL="${EMB_BENCH_LEVEL:-1}"
RTT="${EMB_BENCH_RTT_MS:-30}"
RATE="${EMB_BENCH_RATE_MBIT:-100}"
CHUNK_SIZES="${EMB_BENCH_CHUNK_SIZES:-}"
for tool in "$BIN/embpatch" "$BIN/make_update"; do
  [ -x "$tool" ] || { echo "missing $tool (cmake --build --preset linux --target embpatch make_update)" >&2; exit 2; }
done
for cmd in nginx du /usr/bin/time; do
  command -v "$cmd" >/dev/null || { echo "$cmd not installed" >&2; exit 2; }
done

WORK="$(mktemp -d /tmp/emb-chunk-bench.XXXXXX)"
proxy_pids=()
cleanup() {
  for pid in "${proxy_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  tools/nginx-serve.sh stop "$WORK/nginx-a"
  tools/nginx-serve.sh stop "$WORK/nginx-b"
  rm -rf "$WORK"
}
trap cleanup EXIT

source bench/update_lib.sh
mkdir -p "$WORK/www-a" "$WORK/www-b"
mkdir -p "$WORK/nginx-a" "$WORK/nginx-b"
port_a="$(serve "$WORK/www-a" "$WORK/nginx-a")"
port_b="$(serve "$WORK/www-b" "$WORK/nginx-b")"

now() { date +%s.%N; }
run() {  # PORT GAME_DIR TIME_FILE
  /usr/bin/time -v -o "$3" "$BIN/embpatch" run --game-dir "$2" \
    --config-url "http://127.0.0.1:$1/new/emb.launcher.config.xml" --lang en > "$3.out" 2>&1 ||
    { cat "$3.out"; exit 1; }
}
rss_kb() { awk -F': ' '/Maximum resident set size/ { print $2 }' "$1"; }

echo "== making the versions (archive $PACK_MIB MiB, level $LEVEL)"
"$BIN/make_update" "$WORK/src" "$PACK_MIB" "$LEVEL" | tee "$WORK/changes"
figure() { awk -v key="$1" '$1 == key { print $2 }' "$WORK/changes"; }

echo "== publishing v1 (A: chunks, B: --no-chunks) and installing it"
publish "$WORK/www-a" "$port_a" 1
publish "$WORK/www-b" "$port_b" 1 --no-chunks
run "$port_a" "$WORK/game-a" "$WORK/time.a1"
run "$port_b" "$WORK/game-b" "$WORK/time.b1"
if [ "$RTT" -gt 0 ]; then
  cp -a "$WORK/game-a" "$WORK/slow-a"
  cp -a "$WORK/game-b" "$WORK/slow-b"
fi

echo "== publishing v2"
before_a=$(du -sb "$WORK/www-a" | cut -f1)
t0=$(now)
publish "$WORK/www-a" "$port_a" 2
t1=$(now)
grep -E '^chunks' "$WORK/publish.out" || true
read -r v2_chunks v2_chunk_bytes <<< "$(sed -n 's/^chunks: [0-9]*, \([0-9]*\) new (\([0-9]*\) bytes.*/\1 \2/p' "$WORK/publish.out")"
growth_a=$(( $(du -sb "$WORK/www-a" | cut -f1) - before_a ))
packs_growth=$(( growth_a - $(du -sb "$WORK/www-a/patch/2" | cut -f1) ))
index_bytes=$(stat -c %s "$WORK/www-a/patch/2/crclist.chunks")
publish "$WORK/www-b" "$port_b" 2 --no-chunks
"$BIN/embpatch" update-cost --web-root "$WORK/www-a" --from 1 --to 2 | tee "$WORK/cost.12"

# update_to_v2 LABEL PORT ROOT(a|b): one update of game-ROOT, its bytes from
# nginx-ROOT's log; sets t_start, t_end and wire_line.
update_to_v2() {
  echo "== $1 update v1 -> v2"
  : > "$WORK/nginx-$3/bytes.log"
  sync
  t_start=$(now)
  run "$2" "$WORK/game-$3" "$WORK/time.${3}2"
  t_end=$(now)
  grep -E "^(downloaded|[0-9]+ files)" "$WORK/time.${3}2.out" || tail -2 "$WORK/time.${3}2.out"
  wire_line="$(wire "$WORK/nginx-$3")"
}

update_to_v2 chunked "$port_a" a
t2=$t_start t3=$t_end
read -r chunk_body chunk_sent chunk_requests <<< "$wire_line"
chunk_same=$(same "$WORK/src/v2" "$WORK/game-a")

update_to_v2 whole-file "$port_b" b
t4=$t_start t5=$t_end
read -r whole_body whole_sent whole_requests <<< "$wire_line"
whole_same=$(same "$WORK/src/v2" "$WORK/game-b")

slow_chunk_s=0 slow_whole_s=0
if [ "$RTT" -gt 0 ]; then
  echo "== both updates again behind a proxy adding a $RTT ms round trip, $RATE Mbit/s each way"
  for side in a b; do
    port_var="port_$side"
    inner=$(free_port)
    move "$WORK/nginx-$side" "${!port_var}" "$inner"
    python3 bench/latency_proxy.py "${!port_var}" "$inner" $((RTT / 2)) 900 --rate-mbit "$RATE" > "$WORK/proxy.$side" &
    proxy_pids+=($!)
    for _ in $(seq 1 100); do grep -q ready "$WORK/proxy.$side" 2>/dev/null && break; sleep 0.05; done
    eval "inner_$side=$inner"
  done
  t6=$(now)
  run "$port_a" "$WORK/slow-a" "$WORK/time.sa"
  t7=$(now)
  run "$port_b" "$WORK/slow-b" "$WORK/time.sb"
  t8=$(now)
  slow_chunk_s=$(awk -v a="$t6" -v b="$t7" 'BEGIN { print b - a }')
  slow_whole_s=$(awk -v a="$t7" -v b="$t8" 'BEGIN { print b - a }')
  echo "chunked $(same "$WORK/src/v2" "$WORK/slow-a"), whole-file $(same "$WORK/src/v2" "$WORK/slow-b")"
  for pid in "${proxy_pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  proxy_pids=()
  move "$WORK/nginx-a" "$inner_a" "$port_a"
  move "$WORK/nginx-b" "$inner_b" "$port_b"
fi

echo "== one byte inserted at the archive's start: v2 -> v3"
publish "$WORK/www-a" "$port_a" 3
new_chunks=$(awk '/^chunks:/ { print $3 }' "$WORK/publish.out")
grep -E '^chunks' "$WORK/publish.out" || true
"$BIN/embpatch" update-cost --web-root "$WORK/www-a" --from 2 --to 3 | tee "$WORK/cost.23"
index3_bytes=$(stat -c %s "$WORK/www-a/patch/3/crclist.chunks")
: > "$WORK/nginx-a/bytes.log"
run "$port_a" "$WORK/game-a" "$WORK/time.a3"
read -r one_body one_sent one_requests <<< "$(wire "$WORK/nginx-a")"
one_same=$(same "$WORK/src/v3" "$WORK/game-a")

echo
echo "== results (archive $PACK_MIB MiB, level $LEVEL)"
awk -v changed="$(figure changed_bytes)" -v lzo="$(figure changed_lzo)" -v index_bytes="$index_bytes" \
    -v cb="$chunk_body" -v cs="$chunk_sent" -v cr="$chunk_requests" \
    -v wb="$whole_body" -v ws="$whole_sent" -v wr="$whole_requests" \
    -v growth="$growth_a" -v packs="$packs_growth" -v publish_s="$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" \
    -v chunk_s="$(awk -v a="$t2" -v b="$t3" 'BEGIN { print b - a }')" \
    -v whole_s="$(awk -v a="$t4" -v b="$t5" 'BEGIN { print b - a }')" \
    -v v2_chunks="$v2_chunks" -v v2_chunk_bytes="$v2_chunk_bytes" -v rtt="$RTT" -v rate="$RATE" -v slow_chunk_s="$slow_chunk_s" -v slow_whole_s="$slow_whole_s" \
    -v rss="$(rss_kb "$WORK/time.a2")" -v whole_rss="$(rss_kb "$WORK/time.b2")" \
    -v new_chunks="$new_chunks" -v ob="$one_body" -v one_requests="$one_requests" -v index3="$index3_bytes" \
    -v cok="$chunk_same" -v wok="$whole_same" -v ook="$one_same" 'BEGIN {
  mib = 1048576
  printf "changed bytes:        %d (%.2f MiB); LZO of the new bytes: %d (%.2f MiB)\n", changed, changed / mib, lzo, lzo / mib
  printf "chunked update:       %d body bytes (%.2f MiB, %d with headers) in %d requests; index %d bytes\n", cb, cb / mib, cs, cr, index_bytes
  printf "  vs LZO of changes:  %.2f x (target <= 1.50 x + index: %s)\n", cb / lzo, (cb <= 1.5 * lzo + index_bytes ? "met" : "MISSED")
  printf "  minus the index:    %.2f x\n", (cb - index_bytes) / lzo
  printf "  new chunks:         %d for 100 edits and 30 files, %.1f KiB stored each, %.1f KiB per edit beyond the LZO size\n", v2_chunks, v2_chunk_bytes / v2_chunks / 1024, (v2_chunk_bytes - lzo) / 100 / 1024
  printf "whole-file update:    %d body bytes (%.2f MiB, %d with headers) in %d requests\n", wb, wb / mib, ws, wr
  printf "  whole / chunked:    %.1f x fewer (target >= 20: %s)\n", wb / cb, (wb >= 20 * cb ? "met" : "MISSED")
  printf "web root growth (v2): %d bytes (%.2f MiB; packs %.2f MiB, version folder %.2f MiB), publish %.1f s\n", growth, growth / mib, packs / mib, (growth - packs) / mib, publish_s
  printf "  packs / LZO:        %.2f x; all / LZO: %.2f x\n", packs / lzo, growth / lzo
  printf "one-byte insertion:   %d new chunks (target <= 2: %s); %d body bytes in %d requests (index %d)\n", new_chunks, (new_chunks <= 2 ? "met" : "MISSED"), ob, one_requests, index3
  printf "peak RSS:             chunked %.1f MiB, whole-file %.1f MiB\n", rss / 1024, whole_rss / 1024
  printf "wall time:            chunked %.2f s, whole-file %.2f s (%.2f x)\n", chunk_s, whole_s, whole_s / chunk_s
  if (rtt > 0) printf "  at %d ms round trip, %s Mbit/s: chunked %.2f s, whole-file %.2f s (%.2f x; target >= 10: %s)\n", rtt, rate, slow_chunk_s, slow_whole_s, slow_whole_s / slow_chunk_s, (slow_whole_s >= 10 * slow_chunk_s ? "met" : "MISSED")
  printf "final folders:        chunked %s, whole-file %s, one-byte %s\n", cok, wok, ook
}'
