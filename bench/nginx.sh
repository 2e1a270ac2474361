# Sourced by the benchmark scripts: start_nginx DIR serves DIR/www on a free loopback port with
# its own prefix in DIR and sets $base to its URL; stop_nginx DIR stops it. With NGINX_LOG=1 every
# request is logged to DIR/access.log as "URI STATUS BYTES_SENT"; with NGINX_RATE=N (nginx's
# limit_rate syntax, "100m") every answer is sent at most that fast.
start_nginx() {
  local work=$1 port
  mkdir -p "$work/www" "$work/logs"
  for _ in $(seq 20); do
    port=$((20000 + RANDOM % 40000))
    cat >"$work/nginx.conf" <<CONF
$( [ "$(id -u)" -eq 0 ] && echo "user root;" )
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 256; }
http {
  log_format sent '\$uri \$status \$bytes_sent';
  access_log $( [ -n "${NGINX_LOG:-}" ] && echo "$work/access.log sent" || echo off );
  sendfile on;
  limit_rate ${NGINX_RATE:-0};
  client_body_temp_path $work/body;
  proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi;
  scgi_temp_path $work/scgi;
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
    if nginx -p "$work" -c "$work/nginx.conf" -e "$work/logs/error.log" 2>/dev/null; then
      base=http://127.0.0.1:$port
      return 0
    fi
  done
  echo "$0: nginx would not start" >&2
  return 1
}

stop_nginx() {
  local work=$1
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
  sleep 0.2
}
