# Shell functions of the update benchmarks (bench/chunk_update.sh,
# bench/resume_update.sh), sourced from the repository root with BIN, WORK
# and LEVEL set.

# tools/nginx-serve.sh's access log holds no sizes: restart its server with a
# second log of "STATUS BODY_BYTES BYTES_SENT URI" lines on the same port.
serve() {
  local root="$1" dir="$2" port
  port="$(tools/nginx-serve.sh start "$root" "$dir")"
  tools/nginx-serve.sh stop "$dir"
  sed -i "s|^  log_format emb .*|&\n  log_format embbytes '\$status \$body_bytes_sent \$bytes_sent \$request_uri';\n  access_log $dir/bytes.log embbytes;|" \
    "$dir/nginx.conf"
  nginx -c "$dir/nginx.conf" -p "$dir" -e "$dir/error.log" 2>>"$dir/start.log"
  for _ in $(seq 1 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && { echo "$port"; return 0; }
    sleep 0.05
  done
  echo "nginx did not restart; see $dir/error.log" >&2
  return 1
}
# Moves a server to another port, so that a latency proxy can take its place
# under the URLs the versions were published with.
move() {  # DIR FROM_PORT TO_PORT
  tools/nginx-serve.sh stop "$1"
  sed -i "s|listen 127.0.0.1:$2;|listen 127.0.0.1:$3;|" "$1/nginx.conf"
  nginx -c "$1/nginx.conf" -p "$1" -e "$1/error.log" 2>>"$1/start.log"
  for _ in $(seq 1 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$3") 2>/dev/null && return 0
    sleep 0.05
  done
  echo "nginx did not move to $3; see $1/error.log" >&2
  return 1
}
free_port() {
  local candidate
  for _ in $(seq 1 50); do
    candidate=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null || { echo "$candidate"; return 0; }
  done
  return 1
}
# Body bytes and requests logged since the log was last emptied.
wire() { awk '{ body += $2; sent += $3; n++ } END { printf "%d %d %d", body, sent, n }' "$1/bytes.log"; }
# CHUNK_SIZES ("MIN,AVG,MAX" in KiB, or empty for the default) applies to
# web roots published with chunks.
publish() {  # ROOT PORT VERSION [--no-chunks]
  local sizes=()
  [ -n "${CHUNK_SIZES:-}" ] && [ -z "${4:-}" ] && sizes=(--chunk-sizes "$CHUNK_SIZES")
  "$BIN/embpatch" publish --from "$WORK/src/v$3" --web-root "$1" --crcpatch-url "http://127.0.0.1:$2/patch" \
    --version "$3" --level "$LEVEL" ${4:-} "${sizes[@]}" > "$WORK/publish.out" 2> "$WORK/publish.err" ||
    { cat "$WORK/publish.err"; exit 1; }
}
same() {  # SOURCE GAME
  diff -r --exclude=EmbLauncher.cache "$1" "$2" >/dev/null && echo identical || echo DIFFERENT
}
