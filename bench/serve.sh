#!/usr/bin/env bash
# Measures `tallowmere serve` against Debian's nginx serving a static file of one fortune, in
# the same run, with wrk (CONNECTIONS connections, DURATION per measurement):
#
#   bench/serve.sh
#
#   nginx      GET /fortune: a static file holding one fortune;
#   bundled    GET /fortune and /fortune.json from the bundled collection (indexed);
#   debian     the same from Debian's classic collection (package fortunes, read through its
#              .dat files);
#   appending  GET /fortune from a copy of the bundled collection while another process appends
#              a fortune to it with `tallowmere add` every 10 ms;
#   memory     the resident set of the bundled server before and after a million requests.
#
# Printed: requests per second, the 99th percentile of the latency, and the number of answers
# that were not 2xx (there must be none), for each. wrk, nginx-light and fortunes are installed
# with apt-get when missing (as root). On a machine shared with other work the figures are
# noisy: compare within one run, never across runs.
#
# Environment: CONNECTIONS (default 64), DURATION (default 10s), BUILD (the Release build
# directory, default build-bench), WORK (a directory to keep the files in; a temporary one by
# default, removed at the end).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh

connections=${CONNECTIONS:-64}
duration=${DURATION:-10s}

missing=()
command -v wrk >/dev/null || missing+=(wrk)
command -v nginx >/dev/null || missing+=(nginx-light)
[ -d /usr/share/games/fortunes ] || missing+=(fortunes)
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "$0: missing Debian packages: ${missing[*]} (as root: apt-get install ${missing[*]})" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >&2
  apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
fi

bench_build
cmake --build "$BUILD" -j "$(nproc 2>/dev/null || echo 2)" --target tallowmere_data >/dev/null
given_work=${WORK:-}
bench_workdir
work=$WORK

pids=()
stop_all() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
}
# (This trap replaces bench_workdir's, so it removes a temporary WORK itself.)
trap 'stop_all; if [ -z "$given_work" ]; then rm -rf "$work"; fi' EXIT

# nginx: two workers (one per core here), no access log, one small file, readable by the
# workers' own user.
mkdir -p "$work/www"
printf '%s\n' 'A deadline is the day the work becomes visible to the people who asked for it.' \
  > "$work/www/fortune"
chmod a+rx "$work" "$work/www"
chmod a+r "$work/www/fortune"
cat > "$work/nginx.conf" <<CONF
worker_processes 2;
pid $work/nginx.pid;
error_log $work/nginx.error.log;
events { worker_connections 4096; }
http {
  access_log off;
  server { listen 127.0.0.1:18180; root $work/www; location / { default_type text/plain; } }
}
CONF
nginx -c "$work/nginx.conf"
sleep 0.2
wrk -t1 -c1 -d1s http://127.0.0.1:18180/fortune | grep -q Non-2xx \
  && { echo "$0: nginx does not serve $work/www/fortune" >&2; exit 1; }

# serve PORT [NAME=VALUE...] [-- OPERAND...]: starts a server in the background.
serve() {
  local port=$1
  shift
  local environment=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do environment+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  env "${environment[@]}" "$TALLOWMERE" serve --listen "127.0.0.1:$port" "$@" \
    > "$work/serve-$port.address" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/serve-$port.address" ] && return; sleep 0.05; done
  echo "$0: the server on port $port did not start" >&2
  exit 1
}
export tallowmere_classicdir=/usr/share/games/fortunes
serve 18181 tallowmere_datadir="$(realpath "$BUILD/share/tallowmere")"
serve 18182 tallowmere_datadir=/nonexistent
mkdir -p "$work/append"
cp "$BUILD"/share/tallowmere/data/normal/* "$work/append/"
serve 18183 tallowmere_datadir=/nonexistent -- "$work/append"
sleep 0.2

# measure NAME URL: one line of figures.
measure() {
  local report
  report=$(wrk -t1 -c"$connections" -d"$duration" --latency "$2")
  local rps p99 bad errors
  rps=$(awk '/^Requests\/sec/ {print $2}' <<<"$report")
  p99=$(awk '$1 == "99%" {print $2}' <<<"$report")
  bad=$(awk '/Non-2xx/ {print $5}' <<<"$report")
  errors=$(awk '/Socket errors/ {gsub(/,/, ""); n = $4 + $6 + $8 + $10} END {print n + 0}' <<<"$report")
  bad=$(( ${bad:-0} + errors ))
  printf '%-28s %12s req/s   p99 %9s   non-2xx or errors %s\n' "$1" "$rps" "$p99" "$bad"
}

echo "== $(nproc) cores, $connections connections, $duration each, $(date -u +%FT%TZ)"
measure "nginx static /fortune" http://127.0.0.1:18180/fortune
measure "bundled /fortune" http://127.0.0.1:18181/fortune
measure "bundled /fortune.json" http://127.0.0.1:18181/fortune.json
measure "debian /fortune" http://127.0.0.1:18182/fortune
measure "debian /fortune.json" http://127.0.0.1:18182/fortune.json
measure "nginx static /fortune" http://127.0.0.1:18180/fortune

# An append every 10 ms while the copy is served.
(
  i=0
  while :; do
    "$TALLOWMERE" add "$work/append/work" "Appended while serving, number $i." >/dev/null
    i=$((i + 1))
    sleep 0.01
  done
) &
appender=$!
pids+=("$appender")
measure "appending /fortune" http://127.0.0.1:18183/fortune
measure "appending /fortune.json" http://127.0.0.1:18183/fortune.json
kill "$appender"
echo "   fortunes in the appended file now: $("$TALLOWMERE" count "$work/append/work")"

# The resident set of the bundled server, before and after a million requests or more.
# (`tallowmere serve` runs the server in its own process, so the pid is the server's.)
server=${pids[0]}
rss() { awk '/^VmRSS/ {print $2 " kB"}' "/proc/$1/status"; }
echo "== memory of the bundled server: $(rss "$server") before"
total=0
while [ "$total" -lt 1000000 ]; do
  done_now=$(wrk -t1 -c"$connections" -d10s http://127.0.0.1:18181/fortune.json \
    | awk '/requests in/ {print $1}')
  total=$((total + done_now))
  echo "   after $total requests: $(rss "$server")"
done
