#!/usr/bin/env bash
# A chunked update killed again and again: bench/make_update.cpp's v1 -> v2
# (PACK_MIB archive, 100 edits, 20 small files changed and 10 added) from
# nginx on loopback, each connection limited to RATE bytes a second as a
# real link would be (on bare loopback a whole 4 MiB run sits in the socket
# buffers before the client read a byte of it). A game folder at v1 runs
# `embpatch run` to v2 once without a stop (the baseline); a copy runs it
# KILLS times, each run killed with SIGKILL at a seeded random point, then
# once more to the end. The point is a time after the start, up to 0.9 of
# the baseline's duration (KILL_BY=time), or the body bytes the attempt has
# fetched by nginx's log, up to an eighth of the baseline's (KILL_BY=bytes:
# the kill then lands just as nginx finished sending a response, the worst
# case for what is in flight).
#
# Printed: the body bytes of all attempts against the baseline's (target <=
# 1.3 x), whether after every kill each file of v1 or v2 was whole in its
# old or its new version (or absent where a version lacks it), the launcher's
# own files (the chunk store, .emb-part and .emb-new files, the cache) aside,
# and whether the final folder equals v2.
#
#   bench/resume_update.sh [BIN_DIR]      (default build/linux/bin)
#   EMB_BENCH_PACK_MIB   the archive's size (default 256)
#   EMB_BENCH_KILLS      kills (default 10)
#   EMB_BENCH_SEED       seed of the kill points (default 1)
#   EMB_BENCH_KILL_BY    time or bytes (default time)
#   EMB_BENCH_RATE       nginx limit_rate per connection (default 8m; 0: none)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
BIN="${1:-build/linux/bin}"
PACK_MIB="${EMB_BENCH_PACK_MIB:-256}"
KILLS="${EMB_BENCH_KILLS:-10}"
SEED="${EMB_BENCH_SEED:-1}"
KILL_BY="${EMB_BENCH_KILL_BY:-time}"
RATE="${EMB_BENCH_RATE:-8m}"
LEVEL=1
for tool in "$BIN/embpatch" "$BIN/make_update"; do
  [ -x "$tool" ] || { echo "missing $tool (cmake --build --preset linux --target embpatch make_update)" >&2; exit 2; }
done
command -v nginx >/dev/null || { echo "nginx not installed" >&2; exit 2; }

WORK="$(mktemp -d /tmp/emb-resume-bench.XXXXXX)"
cleanup() {
  tools/nginx-serve.sh stop "$WORK/nginx"
  rm -rf "$WORK"
}
trap cleanup EXIT
source bench/update_lib.sh

attempt() {  # GAME_DIR OUT: starts a run in the background, its pid in $pid
  "$BIN/embpatch" run --game-dir "$1" --config-url "http://127.0.0.1:$port/new/emb.launcher.config.xml" \
    --lang en > "$2" 2>&1 &
  pid=$!
}
# Each file of v1 and v2 whole in one of its versions; launcher files aside.
whole_versions() {  # GAME_DIR: prints the count of files in neither version
  local game="$1" bad=0 path
  while IFS= read -r path; do
    if [ -e "$game/$path" ]; then
      cmp -s "$game/$path" "$WORK/src/v1/$path" 2>/dev/null ||
        cmp -s "$game/$path" "$WORK/src/v2/$path" 2>/dev/null || bad=$((bad + 1))
    elif [ -e "$WORK/src/v1/$path" ] && [ -e "$WORK/src/v2/$path" ]; then
      bad=$((bad + 1))
    fi
  done < "$WORK/paths"
  # Nothing else, the launcher's own files aside.
  bad=$((bad + $(cd "$game" && find . -type f ! -path './EmbLauncher.chunks/*' ! -name '*.emb-part' \
    ! -name '*.emb-part-key' ! -name '*.emb-new' ! -name 'EmbLauncher.*' | sed 's|^\./||' |
    grep -cvxFf "$WORK/paths" || true)))
  echo "$bad"
}

echo "== making the versions (archive $PACK_MIB MiB)"
"$BIN/make_update" "$WORK/src" "$PACK_MIB" "$LEVEL" > "$WORK/changes"
(cd "$WORK/src/v1" && find . -type f; cd "$WORK/src/v2" && find . -type f) | sed 's|^\./||' | sort -u > "$WORK/paths"
mkdir -p "$WORK/www" "$WORK/nginx"
port="$(serve "$WORK/www" "$WORK/nginx")"
sed -i "s|^  sendfile on;|&\n  limit_rate $RATE;|" "$WORK/nginx/nginx.conf"
move "$WORK/nginx" "$port" "$port"
publish "$WORK/www" "$port" 1
echo "== installing v1"
attempt "$WORK/game-base" "$WORK/v1.out"; wait "$pid" || { cat "$WORK/v1.out"; exit 1; }
publish "$WORK/www" "$port" 2
cp -a "$WORK/game-base" "$WORK/game-ref"
cp -a "$WORK/game-base" "$WORK/game"

echo "== baseline: v1 -> v2 without a stop"
: > "$WORK/nginx/bytes.log"
t0=$(date +%s.%N)
attempt "$WORK/game-ref" "$WORK/ref.out"; wait "$pid" || { cat "$WORK/ref.out"; exit 1; }
t1=$(date +%s.%N)
grep -E '^downloaded' "$WORK/ref.out" || true
read -r ref_bytes _ <<< "$(wire "$WORK/nginx")"

ref_s="$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')"
echo "== $KILLS kills by $KILL_BY (seed $SEED)"
torn=0 kills=0
points="$(awk -v seed="$SEED" -v n="$KILLS" -v bytes="$ref_bytes" -v secs="$ref_s" -v by="$KILL_BY" 'BEGIN {
  srand(seed)
  for (i = 0; i < n; i++) {
    if (by == "bytes") printf "%d\n", 1 + int(rand() * bytes / 8); else printf "%.3f\n", rand() * secs * 0.9
  }
}')"
# One log for all attempts: nginx logs a response broken off by a kill only
# once it notices, maybe after the next attempt began; each attempt's share
# is then approximate, the sum exact.
: > "$WORK/nginx/bytes.log"
before=0
for point in $points; do
  attempt "$WORK/game" "$WORK/kill.out"
  if [ "$KILL_BY" = bytes ]; then
    while kill -0 "$pid" 2>/dev/null; do
      read -r got _ <<< "$(wire "$WORK/nginx")"
      if [ $((got - before)) -ge "$point" ]; then kill -9 "$pid" 2>/dev/null || true; break; fi
      sleep 0.01
    done
  else
    sleep "$point"
    kill -9 "$pid" 2>/dev/null || true
  fi
  if wait "$pid" 2>/dev/null; then
    echo "attempt ended before $point"; finished=1
  else
    kills=$((kills + 1)); finished=0
  fi
  sleep 0.2
  read -r now_bytes _ <<< "$(wire "$WORK/nginx")"
  got=$((now_bytes - before)) before=$now_bytes
  bad=$(whole_versions "$WORK/game")
  torn=$((torn + bad))
  stored=$(du -sb "$WORK/game/EmbLauncher.chunks" 2>/dev/null | cut -f1 || echo 0)
  echo "kill at $point ($KILL_BY): attempt fetched $got bytes, store ${stored:-0} bytes, files in neither version: $bad"
  [ "$finished" = 1 ] && break
done
echo "== to the end"
attempt "$WORK/game" "$WORK/last.out"; wait "$pid" || { cat "$WORK/last.out"; exit 1; }
grep -E '^downloaded' "$WORK/last.out" || true
read -r total _ <<< "$(wire "$WORK/nginx")"
echo "last attempt fetched $((total - before)) bytes"
final=$(same "$WORK/src/v2" "$WORK/game")
leftover=$(find "$WORK/game" -maxdepth 1 -name EmbLauncher.chunks | wc -l)

echo
echo "== results (archive $PACK_MIB MiB, $kills kills by $KILL_BY, seed $SEED, rate $RATE)"
awk -v ref="$ref_bytes" -v total="$total" -v torn="$torn" -v final="$final" -v leftover="$leftover" \
    -v ref_s="$ref_s" 'BEGIN {
  printf "baseline (no stop):   %d body bytes in %.2f s\n", ref, ref_s
  printf "killed + resumed:     %d body bytes over all attempts\n", total
  printf "  ratio:              %.3f x (target <= 1.30: %s)\n", total / ref, (total <= 1.3 * ref ? "met" : "MISSED")
  printf "files torn at kills:  %d (%s)\n", torn, (torn == 0 ? "every file old or new" : "TORN")
  printf "final folder:         %s; store left: %s\n", final, (leftover ? "YES" : "no")
}'
