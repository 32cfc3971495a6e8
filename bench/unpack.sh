#!/usr/bin/env bash
# `embpatch unpack` of one 64 MiB payload as a whole process, against a plain
# C program that reads the payload in one call, decodes it with liblzo2 and
# writes the output (bench/unpack_baseline.c), measured in the same run: the
# best wall time of five runs each, files in the page cache.
# Target: ours at least 1.2x the baseline.
#
#   bench/unpack.sh [BIN_DIR]      (default build/linux/bin)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
BIN="${1:-build/linux/bin}"
for tool in "$BIN/embpatch" "$BIN/make_game" "$BIN/unpack_baseline"; do
  [ -x "$tool" ] || { echo "missing $tool (./run.sh build linux)" >&2; exit 2; }
done
WORK="$(mktemp -d /tmp/emb-unpack-bench.XXXXXX)"
trap 'rm -rf "$WORK"' EXIT

"$BIN/make_game" "$WORK/source" 1 64 >/dev/null
input="$(find "$WORK/source" -type f | head -1)"
size=$(stat -c %s "$input")
"$BIN/embpatch" pack "$input" -o "$WORK/payload" >/dev/null

best() {  # best wall time in ms of five runs of "$@"
  local best_ms=999999999 start end ms
  for _ in 1 2 3 4 5; do
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    ms=$(((end - start) / 1000000))
    [ "$ms" -lt "$best_ms" ] && best_ms=$ms
  done
  echo "$best_ms"
}
ours=$(best "$BIN/embpatch" unpack "$WORK/payload" --size "$size" -o "$WORK/ours.bin")
base=$(best "$BIN/unpack_baseline" "$WORK/payload" "$size" "$WORK/base.bin")
cmp -s "$WORK/ours.bin" "$WORK/base.bin" || { echo "outputs differ" >&2; exit 1; }
awk -v o="$ours" -v b="$base" -v s="$size" 'BEGIN {
  printf "unpack, %d MiB payload (vs C + liblzo2)      ours %6d ms   baseline %6d ms   ratio %.2fx\n",
         s / 1048576, o, b, (o > 0 ? b / o : 0) }'
