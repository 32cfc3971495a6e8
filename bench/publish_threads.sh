#!/usr/bin/env bash
# Publishing time on one thread against every core, in the same run: the
# game of bench/make_update.cpp (v1, archive PACK_MIB) published into a fresh
# web root with --no-chunks (payloads alone), --chunks-only and both (the
# default), each with --threads 1 and without (one thread per core), RUNS
# times in turn: wall time, and CPU time (user + system) beside it, as every
# file written is synced and on a busy disk the syncs can outweigh the
# compression. Also checks that the thread count changes no byte of the web
# root.
#
#   bench/publish_threads.sh [BIN_DIR]   (default build/linux/bin)
#   EMB_BENCH_PACK_MIB   the archive's size (default 256)
#   EMB_BENCH_LEVEL      compression level, 1 or 999 (default 1)
#   EMB_BENCH_RUNS       runs of each (default 3)
#   TMPDIR               where the game and the web roots go (default /tmp;
#                        /dev/shm takes the disk out of the figures)
#   EMB_BENCH_BEFORE_BIN a folder with another embpatch (say, of the commit
#                        before), timed as a third variant ("before", its
#                        default threads); its web roots are not compared
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
BIN="${1:-build/linux/bin}"
PACK_MIB="${EMB_BENCH_PACK_MIB:-256}"
LEVEL="${EMB_BENCH_LEVEL:-1}"
RUNS="${EMB_BENCH_RUNS:-3}"
BEFORE="${EMB_BENCH_BEFORE_BIN:-}"
variants=(1 all)
[ -n "$BEFORE" ] && variants+=(before)
for tool in "$BIN/embpatch" "$BIN/make_update"; do
  [ -x "$tool" ] || { echo "missing $tool (cmake --build --preset linux --target embpatch make_update)" >&2; exit 2; }
done
WORK="$(mktemp -d "${TMPDIR:-/tmp}/emb-publish-bench.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

"$BIN/make_update" "$WORK/src" "$PACK_MIB" "$LEVEL" > /dev/null
echo "== publishing v1 (archive $PACK_MIB MiB, level $LEVEL, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
layouts=(--no-chunks --chunks-only default)
for run in $(seq 1 "$RUNS"); do
  for layout in "${layouts[@]}"; do
    for threads in "${variants[@]}"; do
      root="$WORK/www-$layout-$threads"
      rm -rf "$root"
      args=(publish --from "$WORK/src/v1" --web-root "$root" --crcpatch-url http://127.0.0.1:1/patch
            --version 1 --level "$LEVEL")
      [ "$layout" != default ] && args+=("$layout")
      [ "$threads" = 1 ] && args+=(--threads 1)
      program="$BIN/embpatch"
      [ "$threads" = before ] && program="$BEFORE/embpatch"
      sync
      /usr/bin/time -f "%e %U %S" -o "$WORK/time" "$program" "${args[@]}" > "$WORK/out" 2>&1 ||
        { cat "$WORK/out"; exit 1; }
      echo "$layout $threads $(cat "$WORK/time")" >> "$WORK/times"
    done
    diff -r "$WORK/www-$layout-1" "$WORK/www-$layout-all" > /dev/null ||
      { echo "$layout: the web roots differ between 1 thread and all" >&2; exit 1; }
    rm -rf "$WORK"/www-*
  done
done
echo "web roots identical on 1 thread and on all: yes"
# One line per layout and variant: mean wall time, each run's, mean CPU time.
printf "%-14s %-7s %-26s %s\n" layout threads "wall s: mean (runs)" "CPU s: mean"
awk '{ k = $1 " " $2; runs[k] = runs[k] sprintf(" %.1f", $3); wall[k] += $3; cpu[k] += $4 + $5; n[k]++ }
END {
  for (k in n) {
    split(k, part, " ")
    printf "%-14s %-7s %-26s %.1f\n", part[1], part[2], sprintf("%.2f (%s)", wall[k] / n[k], substr(runs[k], 2)),
           cpu[k] / n[k]
  }
}' "$WORK/times" | sort
