# Sourced by the benchmark scripts: start_nginx DIR serves DIR/www on a free loopback port with
# its own prefix in DIR and sets $base to its URL; stop_nginx DIR stops it. With NGINX_LOG=1 every
# request is logged to DIR/access.log as "URI STATUS BYTES_SENT"; with NGINX_RATE=N (nginx's
# limit_rate syntax, "100m") every answer is sent at most that fast; with NGINX_GZIP=1 a FILE.gz
# beside FILE is sent to a client that asks for gzip (gzip_static). With NGINX_TLS=1 the same
# files are served over TLS with HTTP/2 on the next port too ($tls_base), by a certificate for
# 127.0.0.1 that an authority of the benchmark's own signed: DIR/tls/ca.pem is what to trust.
start_nginx() {
  local work=$1 port tls=
  mkdir -p "$work/www" "$work/logs"
  [ -z "${NGINX_TLS:-}" ] || make_tls "$work/tls"
  for _ in $(seq 20); do
    port=$((20000 + RANDOM % 40000))
    [ -z "${NGINX_TLS:-}" ] || tls="server { listen 127.0.0.1:$((port + 1)) ssl http2; root $work/www;
    ssl_certificate $work/tls/server.pem; ssl_certificate_key $work/tls/server.key; }"
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
  $( [ -n "${NGINX_GZIP:-}" ] && echo "gzip_static on; gzip_http_version 1.0;" )
  client_body_temp_path $work/body;
  proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi;
  scgi_temp_path $work/scgi;
  server { listen 127.0.0.1:$port; root $work/www; }
  $tls
}
CONF
    if nginx -p "$work" -c "$work/nginx.conf" -e "$work/logs/error.log" 2>/dev/null; then
      base=http://127.0.0.1:$port
      tls_base=https://127.0.0.1:$((port + 1))
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

# make_tls DIR: an authority (ca.pem) and the server's certificate and key it signed.
make_tls() {
  local dir=$1 curve=ec_paramgen_curve:prime256v1
  mkdir -p "$dir"
  printf 'subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n' >"$dir/server.ext"
  openssl req -x509 -newkey ec -pkeyopt $curve -nodes -subj /CN=bench-ca -days 2 \
    -keyout "$dir/ca.key" -out "$dir/ca.pem" 2>/dev/null
  openssl req -new -newkey ec -pkeyopt $curve -nodes -subj /CN=127.0.0.1 \
    -keyout "$dir/server.key" -out "$dir/server.csr" 2>/dev/null
  openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
    -CAcreateserial -days 2 -extfile "$dir/server.ext" -out "$dir/server.pem" 2>/dev/null
}

# delay_proxy NAME PORT: toval-delay-proxy (from $bin) in front of PORT, its output in
# $work/NAME.out; sets $proxy_port and adds its pid to the array $proxies.
delay_proxy() {
  "$bin/toval-delay-proxy" 0 127.0.0.1 "$2" >"$work/$1.out" &
  proxies+=($!)
  for _ in $(seq 50); do grep -q '^listening' "$work/$1.out" && break; sleep 0.1; done
  proxy_port=$(sed -n 's/^listening 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/$1.out")
  [ -n "$proxy_port" ] || { echo "$0: toval-delay-proxy did not start" >&2; exit 1; }
}
