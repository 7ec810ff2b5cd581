#!/usr/bin/env bash
# Builds the benchmarks in their own build directory and runs them all,
# printing one table per benchmark. Each line compares our code with its
# floor measured in the same run.
#   bench/run.sh [client|service]  (only that part;
#                            VELMORA_BENCH_BUILD_DIR overrides the build dir,
#                            WRK_SECONDS the length of each load run,
#                            VELMORA_BENCH_BASELINE=<commit> adds that
#                            commit's start-up probe and service to the
#                            tables)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${VELMORA_BENCH_BUILD_DIR:-$ROOT/build-bench}"
SECONDS_PER_RUN="${WRK_SECONDS:-10}"
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="qt.qpa.*=false"

if ! command -v wrk >/dev/null; then
    SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get install -y --no-install-recommends wrk
fi

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BUILD_BENCH=ON >/dev/null
SERVICE_TARGETS=(bench_service_burst bench_service_load bench_service_durability bench_report_rules bench_propagation velmora-service velmora-service-bench-nearby bench_import)
CLIENT_TARGETS=(bench_client bench_launch_velmora bench_launch_form bench_launch_empty bench_launch_label bench_startup)
[ "${1:-}" = service ] && CLIENT_TARGETS=()
[ "${1:-}" = client ] && SERVICE_TARGETS=()
cmake --build "$BUILD" -j"$(nproc)" --target "${CLIENT_TARGETS[@]}" "${SERVICE_TARGETS[@]}" >/dev/null
B="$BUILD/bench"
SERVICE="$BUILD/service/velmora-service"

# build_baseline TARGET...: builds targets of the commit VELMORA_BENCH_BASELINE
# from this checkout's history in $BUILD/baseline (extracted once per commit,
# so a second run only checks the build).
build_baseline() {
    local src="$BUILD/baseline-src" ref
    ref="$(git -C "$ROOT" rev-parse "$VELMORA_BENCH_BASELINE")"
    if [ "$(cat "$src/.commit" 2>/dev/null)" != "$ref" ]; then
        rm -rf "$src" "$BUILD/baseline"
        mkdir -p "$src"
        git -C "$ROOT" archive "$ref" | tar -x -C "$src"
        echo "$ref" >"$src/.commit"
    fi
    cmake -S "$src" -B "$BUILD/baseline" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BUILD_TESTS=OFF \
        -DVELMORA_BUILD_BENCH=ON >/dev/null
    cmake --build "$BUILD/baseline" -j"$(nproc)" --target "$@" >/dev/null
}

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(free -g | awk '/Mem:/{print $2}') GiB RAM, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo
if [ "${1:-}" != service ]; then
# Price dates are converted to local time: once with TZ unset, as on most
# desktops (the zone then comes from /etc/localtime), once with it set.
env -u TZ "$B/bench_client" parse 2>/dev/null
echo
TZ=Europe/Dublin "$B/bench_client" parse 2>/dev/null
echo
"$B/bench_client" paint 2>/dev/null
echo
"$B/bench_client" rss 2>/dev/null
echo
# Start-up against three floors: the form alone (uic's code on a plain
# QMainWindow), an empty window holding the client's loopback socket, and a
# window with one label (the font database, no network); with
# VELMORA_BENCH_BASELINE, that commit's client too.
BASELINE_PROBE=()
if [ -n "${VELMORA_BENCH_BASELINE:-}" ]; then
    build_baseline bench_launch_velmora
    cp "$BUILD/baseline/bench/bench_launch_velmora" "$BUILD/bench_launch_baseline"
    BASELINE_PROBE=("$BUILD/bench_launch_baseline")
fi
"$B/bench_startup" 100 "$B/bench_launch_velmora" "${BASELINE_PROBE[@]}" "$B/bench_launch_form" \
    "$B/bench_launch_empty" "$B/bench_launch_label" 2>/dev/null
echo
# Start-up with and without a keyring, against the form: the window asks
# the Secret Service for the password while it is built (the answer counts
# for 200 ms at most). Without one the session bus address leads nowhere;
# with one a gnome-keyring-daemon on a private session bus holds the
# password, all of its files in a temporary folder.
echo "start-up without a keyring:"
DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/velmora-bench \
    "$B/bench_startup" 30 "$B/bench_launch_velmora" "$B/bench_launch_form" 2>/dev/null
if command -v dbus-run-session >/dev/null && command -v gnome-keyring-daemon >/dev/null \
    && command -v secret-tool >/dev/null; then
    KEYRING_HOME="$(mktemp -d)"
    mkdir -m 700 "$KEYRING_HOME/run"
    echo "start-up with a keyring:"
    HOME="$KEYRING_HOME" XDG_DATA_HOME="$KEYRING_HOME/data" XDG_CACHE_HOME="$KEYRING_HOME/cache" \
    XDG_RUNTIME_DIR="$KEYRING_HOME/run" dbus-run-session -- bash -c '
        echo -n bench | gnome-keyring-daemon --unlock --components=secrets >/dev/null
        # The entry as the window keeps it: key "password" of service "Velmora".
        printf secret | secret-tool store --label=Velmora user password server Velmora type plaintext
        "$0" 30 "$1" "$2" 2>/dev/null
    ' "$B/bench_startup" "$B/bench_launch_velmora" "$B/bench_launch_form"
    rm -rf "$KEYRING_HOME"
fi
echo
fi
[ "${1:-}" = client ] && exit 0 # bench/run.sh client: the client's benchmarks only

# Service: request rate and latency with wrk on loopback, one connection set
# per operation, at two catalogue sizes, on SQLite and on PostgreSQL, next to
# the service of an earlier commit (VELMORA_BENCH_BASELINE=<commit>, built
# from this checkout's history) on the same SQLite file. The service's
# request log goes to /dev/null so the terminal is not the bottleneck.
TMP="$(mktemp -d)"
chmod 711 "$TMP" # PostgreSQL runs as its own user when this script runs as root
PIDS=()
PGBIN="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)"
as_pg() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
SERVICE_PID=""
FROZEN_PIDS=""
cleanup() {
    [ -n "$FROZEN_PIDS" ] && kill -CONT $FROZEN_PIDS 2>/dev/null
    for pid in "${PIDS[@]}" $SERVICE_PID; do kill "$pid" 2>/dev/null || true; done
    [ -f "$TMP/pg/data/postmaster.pid" ] && as_pg "$PGBIN/pg_ctl" -D "$TMP/pg/data" -m immediate stop >/dev/null 2>&1
    rm -rf "$TMP"
}
trap cleanup EXIT

BASELINE_SERVICE=""
if [ -n "${VELMORA_BENCH_BASELINE:-}" ]; then
    build_baseline velmora-service
    BASELINE_SERVICE="$BUILD/baseline/service/velmora-service"
fi

# start_service BINARY DB OUT [options...]: sets PORT once it listens (not
# in a subshell, so that PIDS keeps the process for stop_services).
start_service() {
    local binary="$1" db="$2" out="$3"; shift 3
    "$binary" --port 0 --db "$db" --hash-iterations 1000 "$@" >"$out" 2>"$out.log" &
    PIDS+=($!)
    for _ in $(seq 1 1200); do grep -q Listening "$out" 2>/dev/null && break; sleep 0.2; done
    PORT="$(sed -n 's/.*Listening on [^:]*:\([0-9]*\).*/\1/p' "$out")"
}
stop_services() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    PIDS=()
}

wrk_line() { # label url [lua args...]
    local label="$1"; shift
    local out
    out="$(wrk -t1 -c8 -d"${SECONDS_PER_RUN}s" --latency "$@")"
    local rps p50 p99 errors
    rps="$(awk '/Requests\/sec/{print $2}' <<<"$out")"
    p50="$(awk '$1=="50%"{print $2}' <<<"$out")"
    p99="$(awk '$1=="99%"{print $2}' <<<"$out")"
    errors="$(grep -E 'Non-2xx|Socket errors' <<<"$out" | tr '\n' ' ' || true)"
    printf '  %-44s %10s %10s %10s  %s\n' "$label" "$rps" "$p50" "$p99" "$errors"
}
# The three reads at random positions / ids.
read_lines() { # label port stations
    local base="http://127.0.0.1:$2"
    wrk_line "$1 nearby 5 km" "$base/" -s "$ROOT/bench/randomnearby.lua" -- 5
    wrk_line "$1 nearby 50 km" "$base/" -s "$ROOT/bench/randomnearby.lua" -- 50
    wrk_line "$1 byId" "$base/" -s "$ROOT/bench/randomid.lua" -- "$3"
}

HAVE_PG=""
if [ -n "$PGBIN" ] && ls /usr/lib/*/qt6/plugins/sqldrivers/libqsqlpsql.so >/dev/null 2>&1; then
    mkdir -p "$TMP/pg"
    [ "$(id -u)" -eq 0 ] && chown postgres "$TMP/pg"
    as_pg "$PGBIN/initdb" -D "$TMP/pg/data" -U velmora -A trust -E UTF8 --no-locale --no-sync --no-instructions >/dev/null
    as_pg "$PGBIN/pg_ctl" -D "$TMP/pg/data" -l "$TMP/pg/log" -o "-k $TMP/pg -c listen_addresses=" -w start >/dev/null
    HAVE_PG=1
fi
pg_uri() { echo "postgresql:///$1?host=$TMP/pg&user=velmora"; }

printf '%-46s %10s %10s %10s\n' "service on loopback (wrk -c8)" "req/s" "p50" "p99"
for n in 1500 100000; do
    echo "  ($n stations)"
    if [ -n "$BASELINE_SERVICE" ]; then
        start_service "$BASELINE_SERVICE" "$TMP/s$n.sqlite" "$TMP/base$n" --demo-stations "$n"; port="$PORT"
        read_lines "baseline SQLite" "$port" "$n"
        stop_services
    fi
    started=$(date +%s%N)
    start_service "$SERVICE" "$TMP/s$n.sqlite" "$TMP/new$n" --demo-stations "$n"; port="$PORT"
    echo "    SQLite up in $(( ($(date +%s%N) - started) / 1000000 )) ms"
    read_lines "SQLite" "$port" "$n"
    stop_services
    if [ -n "$HAVE_PG" ]; then
        as_pg "$PGBIN/createdb" -h "$TMP/pg" -U velmora "bench$n"
        started=$(date +%s%N)
        start_service "$SERVICE" "$(pg_uri "bench$n")" "$TMP/pg$n" --demo-stations "$n"; port="$PORT"
        echo "    PostgreSQL up in $(( ($(date +%s%N) - started) / 1000000 )) ms (demo data created)"
        read_lines "PostgreSQL" "$port" "$n"
        stop_services
    fi
done

# Instances behind nginx (the site in deploy/), PostgreSQL, 100,000 stations.
if [ -n "$HAVE_PG" ] && { command -v nginx >/dev/null 2>&1 || [ -x /usr/sbin/nginx ]; }; then
    NGINX="$(command -v nginx || echo /usr/sbin/nginx)"
    # bench_propagation reports 200 prices far apart from one account: with
    # the hourly limit and the plausible band most would be refused or held.
    RULES_OFF=(--reports-per-hour 0 --plausible-band 0)
    start_service "$SERVICE" "$(pg_uri bench100000)" "$TMP/i1" "${RULES_OFF[@]}"; one="$PORT"
    start_service "$SERVICE" "$(pg_uri bench100000)" "$TMP/i2" "${RULES_OFF[@]}"; two="$PORT"
    front="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
    for count in 1 2; do
        mkdir -p "$TMP/nginx$count"
        # The shipped site on a loopback port, with the first `count` instances.
        awk -v one="$one" -v two="$two" -v count="$count" '
            /listen \[::\]:80;/ { next }
            /listen 80;/ { sub(/listen 80;/, "listen 127.0.0.1:'"$front"';") }
            /server 127\.0\.0\.1:[0-9]+/ { seen++; if (seen > count) next; sub(/127\.0\.0\.1:[0-9]+/, "127.0.0.1:" (seen == 1 ? one : two)) }
            { print }' "$ROOT/deploy/nginx-velmora.conf" >"$TMP/nginx$count/site.conf"
        user=""; [ "$(id -u)" -eq 0 ] && user="user root;"
        cat >"$TMP/nginx$count/nginx.conf" <<CONF
daemon off; worker_processes 1; pid $TMP/nginx$count/nginx.pid; error_log $TMP/nginx$count/error.log; $user
events { worker_connections 256; }
http { access_log off; client_body_temp_path $TMP/nginx$count/body; proxy_temp_path $TMP/nginx$count/proxy;
       fastcgi_temp_path $TMP/nginx$count/f; uwsgi_temp_path $TMP/nginx$count/u; scgi_temp_path $TMP/nginx$count/s;
       include $TMP/nginx$count/site.conf; }
CONF
        "$NGINX" -p "$TMP/nginx$count" -c "$TMP/nginx$count/nginx.conf" -e "$TMP/nginx$count/error.log" &
        nginx_pid=$!
        for _ in $(seq 1 50); do curl -s -o /dev/null "http://127.0.0.1:$front/" && break; sleep 0.1; done
        wrk_line "nginx, $count instance(s): nearby 50 km" "http://127.0.0.1:$front/" -s "$ROOT/bench/randomnearby.lua" -- 50
        wrk_line "nginx, $count instance(s): byId" "http://127.0.0.1:$front/" -s "$ROOT/bench/randomid.lua" -- 100000
        kill "$nginx_pid"; wait "$nginx_pid" 2>/dev/null || true
    done
    "$B/bench_propagation" "http://127.0.0.1:$one" "http://127.0.0.1:$two" 200
    stop_services
fi
echo
"$B/bench_service_burst" "$SERVICE" 300 1500
"$B/velmora-service-bench-nearby" 100000 500
echo

# Reader latency under attack: a reader opens a new connection per request
# (getStationById, random id) while other connections trickle, stay silent
# or flood wrong-password logins; production hash iterations (100,000).
# The flood runs once with the failed-login limit (the default) and once
# without it, so the hashing pool alone has to keep the readers going.
echo "reader latency under attack (1500 stations, ${SECONDS_PER_RUN} s each; target: p99 within 2x idle)"
truncate -s 64M "$TMP/attack.deb"
ulimit -n "$(ulimit -Hn)" # 4,224 held downloads need more descriptors than the usual 1,024
attack() { # label limit mode connections
    "$SERVICE" --port 0 --db "$TMP/attack.sqlite" --failed-logins-per-minute "$2" --deb "$TMP/attack.deb" \
        >"$TMP/attack.out" 2>/dev/null &
    SERVICE_PID=$!
    for _ in $(seq 1 600); do grep -q Listening "$TMP/attack.out" 2>/dev/null && break; sleep 0.2; done
    port="$(sed -n 's/.*Listening on [^:]*:\([0-9]*\).*/\1/p' "$TMP/attack.out")"
    printf '  %-34s %s\n' "$1" "$(VELMORA_BENCH_DB="$TMP/attack.sqlite" "$B/bench_service_load" "$port" "$3" "$4" "$SECONDS_PER_RUN" 1500)"
    kill "$SERVICE_PID"; wait "$SERVICE_PID" 2>/dev/null || true; SERVICE_PID=""
}
attack "idle" 10 idle 0
attack "64 trickling connections" 10 trickle 64
attack "200 silent connections" 10 silent 200
attack "16-connection wrong-password flood" 10 flood 16
attack "  the same without failure limit" 0 flood 16
attack "logged-in watch list, after first" 10 watchlist 0
attack "SQLite write lock held, 8 reporters" 10 writelock 8
attack "4,224 unread downloads, 33 addrs" 10 downloads 4224
attack "wrong passwords from 40 addresses" 10 flood40 80
# The same reader on PostgreSQL, idle (its floor) and with every process of
# the server stopped by SIGSTOP (a database host that stops answering
# without closing anything) while 8 connections report prices; the login is
# checked once before, so the reports wait on the database threads.
if [ -n "$HAVE_PG" ]; then
    as_pg "$PGBIN/createdb" -h "$TMP/pg" -U velmora attack
    "$SERVICE" --port 0 --db "$(pg_uri attack)" >"$TMP/pgattack.out" 2>/dev/null &
    SERVICE_PID=$!
    for _ in $(seq 1 600); do grep -q Listening "$TMP/pgattack.out" 2>/dev/null && break; sleep 0.2; done
    port="$(sed -n 's/.*Listening on [^:]*:\([0-9]*\).*/\1/p' "$TMP/pgattack.out")"
    printf '  %-34s %s\n' "idle, on PostgreSQL" "$("$B/bench_service_load" "$port" idle 0 "$SECONDS_PER_RUN" 1500)"
    curl -s -o /dev/null "http://127.0.0.1:$port/api/nokiaApp/getStationsByWatchlist.php?username=demo&password=demo"
    postmaster="$(head -1 "$TMP/pg/data/postmaster.pid")"
    FROZEN_PIDS="$postmaster $(ps -o pid= --ppid "$postmaster" | tr '\n' ' ')"
    kill -STOP $FROZEN_PIDS
    printf '  %-34s %s\n' "PostgreSQL frozen (SIGSTOP)" "$("$B/bench_service_load" "$port" reporters 8 "$SECONDS_PER_RUN" 1500)"
    kill -CONT $FROZEN_PIDS; FROZEN_PIDS=""
    kill "$SERVICE_PID"; wait "$SERVICE_PID" 2>/dev/null || true; SERVICE_PID=""
else
    echo "  PostgreSQL frozen (SIGSTOP): skipped, no PostgreSQL server programs or Qt's QPSQL driver"
fi
echo
"$B/bench_service_durability" 300 3
echo
"$B/bench_report_rules" 500 7
echo
echo "Station import, 20 million nodes (extract written to $TMP):"
"$B/bench_import" 20000000 "$TMP"
