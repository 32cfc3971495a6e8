#!/usr/bin/env bash
# Serves a folder with Debian's nginx on a free loopback port, for the demo,
# the benchmarks and anyone trying a publication by hand.
#
#   tools/nginx-serve.sh start ROOT DIR [quiet]   prints the port; DIR keeps
#                                                the configuration, the logs
#                                                (access.log: "METHOD URI STATUS")
#                                                and the pid; quiet: no access log
#   tools/nginx-serve.sh stop DIR
set -euo pipefail

start() {
  local root dir access port=""
  root="$(cd "$1" && pwd)"
  mkdir -p "$2/tmp"
  dir="$(cd "$2" && pwd)"
  access="access_log $dir/access.log emb;"
  [ "${3:-}" = "quiet" ] && access="access_log off;"
  for _ in $(seq 1 50); do
    local candidate=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null && continue  # taken
    cat >"$dir/nginx.conf" <<CONF
daemon on;
master_process off;
pid $dir/nginx.pid;
error_log $dir/error.log warn;
events { worker_connections 256; }
http {
  log_format emb '\$request_method \$request_uri \$status';
  $access
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  default_type application/octet-stream;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 120s;
  keepalive_requests 100000;
  server {
    listen 127.0.0.1:$candidate;
    root $root;
  }
}
CONF
    rm -f "$dir/nginx.pid"
    nginx -c "$dir/nginx.conf" -p "$dir" -e "$dir/error.log" 2>>"$dir/start.log" || continue
    for _ in $(seq 1 100); do
      if (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then port="$candidate"; break; fi
      sleep 0.05
    done
    [ -n "$port" ] && break
    stop "$dir"
  done
  [ -n "$port" ] || { echo "nginx did not start; see $dir/error.log" >&2; return 1; }
  echo "$port"
}

stop() {
  local dir="$1"
  [ -f "$dir/nginx.pid" ] || return 0
  nginx -c "$dir/nginx.conf" -p "$dir" -e "$dir/error.log" -s stop 2>/dev/null || true
  for _ in $(seq 1 100); do
    [ -f "$dir/nginx.pid" ] || return 0
    sleep 0.05
  done
}

case "${1:-}" in
  start) start "${2:?ROOT}" "${3:?DIR}" "${4:-}" ;;
  stop) stop "${2:?DIR}" ;;
  *) sed -n '2,10p' "$0"; exit 2 ;;
esac
