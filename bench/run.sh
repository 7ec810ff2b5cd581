#!/usr/bin/env bash
# Builds the benchmarks in their own build directory and runs them all,
# printing one table per benchmark. Each line compares our code with its
# floor measured in the same run.
#   bench/run.sh            (VELMORA_BENCH_BUILD_DIR overrides the build dir,
#                            WRK_SECONDS the length of each load run)
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
cmake --build "$BUILD" -j"$(nproc)" --target bench_client bench_launch_velmora bench_launch_empty \
    bench_startup bench_service_burst bench_service_load bench_service_durability velmora-service >/dev/null
B="$BUILD/bench"
SERVICE="$BUILD/service/velmora-service"

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(free -g | awk '/Mem:/{print $2}') GiB RAM"
echo
"$B/bench_client" parse 2>/dev/null
echo
"$B/bench_client" paint 2>/dev/null
echo
"$B/bench_client" rss 2>/dev/null
echo
"$B/bench_startup" "$B/bench_launch_velmora" "$B/bench_launch_empty" 30 2>/dev/null
echo

# Service: request rate and latency with wrk on loopback, one connection set
# per operation, at two catalogue sizes. The service's request log goes to
# /dev/null so the terminal is not the bottleneck.
TMP="$(mktemp -d)"
SERVICE_PID=""
cleanup() { [ -n "$SERVICE_PID" ] && kill "$SERVICE_PID" 2>/dev/null; rm -rf "$TMP"; }
trap cleanup EXIT

wrk_line() { # label url [lua args...]
    local label="$1"; shift
    local out
    out="$(wrk -t1 -c8 -d"${SECONDS_PER_RUN}s" --latency "$@")"
    local rps p50 p99 errors
    rps="$(awk '/Requests\/sec/{print $2}' <<<"$out")"
    p50="$(awk '$1=="50%"{print $2}' <<<"$out")"
    p99="$(awk '$1=="99%"{print $2}' <<<"$out")"
    errors="$(grep -E 'Non-2xx|Socket errors' <<<"$out" | tr '\n' ' ' || true)"
    printf '  %-32s %10s %10s %10s  %s\n' "$label" "$rps" "$p50" "$p99" "$errors"
}

printf '%-34s %10s %10s %10s\n' "service on loopback (wrk -c8)" "req/s" "p50" "p99"
for n in 1500 100000; do
    started=$(date +%s%N)
    "$SERVICE" --port 0 --db "$TMP/s$n.sqlite" --demo-stations "$n" >"$TMP/out$n" 2>/dev/null &
    SERVICE_PID=$!
    for _ in $(seq 1 600); do grep -q Listening "$TMP/out$n" 2>/dev/null && break; sleep 0.2; done
    port="$(sed -n 's/.*Listening on [^:]*:\([0-9]*\).*/\1/p' "$TMP/out$n")"
    echo "  ($n stations; demo data created in $(( ($(date +%s%N) - started) / 1000000 )) ms)"
    base="http://127.0.0.1:$port/api/nokiaApp"
    wrk_line "getNearbyStations 5 km, $n" "$base/getNearbyStations.php?latitude=53.3498&longitude=-6.2603&maxDistance=5"
    wrk_line "getNearbyStations 50 km, $n" "$base/getNearbyStations.php?latitude=53.3498&longitude=-6.2603&maxDistance=50"
    wrk_line "getStationById (random), $n" "$base/getStationById.php?id=1" -s "$ROOT/bench/randomid.lua" -- "$n"
    echo "    nearby reply: $(curl -s "$base/getNearbyStations.php?latitude=53.3498&longitude=-6.2603&maxDistance=5" | grep -o '<station ' | wc -l) stations within 5 km, $(curl -s "$base/getNearbyStations.php?latitude=53.3498&longitude=-6.2603&maxDistance=50" | grep -o '<station ' | wc -l) within 50 km"
    kill "$SERVICE_PID"; wait "$SERVICE_PID" 2>/dev/null || true; SERVICE_PID=""
done
echo
"$B/bench_service_burst" "$SERVICE" 300 1500
echo

# Reader latency under attack: a reader opens a new connection per request
# (getStationById, random id) while other connections trickle, stay silent
# or flood wrong-password logins; production hash iterations (100,000).
# The flood runs once with the failed-login limit (the default) and once
# without it, so the hashing pool alone has to keep the readers going.
echo "reader latency under attack (1500 stations, ${SECONDS_PER_RUN} s each; target: p99 within 2x idle)"
attack() { # label limit mode connections
    "$SERVICE" --port 0 --db "$TMP/attack.sqlite" --failed-logins-per-minute "$2" >"$TMP/attack.out" 2>/dev/null &
    SERVICE_PID=$!
    for _ in $(seq 1 600); do grep -q Listening "$TMP/attack.out" 2>/dev/null && break; sleep 0.2; done
    port="$(sed -n 's/.*Listening on [^:]*:\([0-9]*\).*/\1/p' "$TMP/attack.out")"
    printf '  %-34s %s\n' "$1" "$("$B/bench_service_load" "$port" "$3" "$4" "$SECONDS_PER_RUN" 1500)"
    kill "$SERVICE_PID"; wait "$SERVICE_PID" 2>/dev/null || true; SERVICE_PID=""
}
attack "idle" 10 idle 0
attack "64 trickling connections" 10 trickle 64
attack "200 silent connections" 10 silent 200
attack "16-connection wrong-password flood" 10 flood 16
attack "  the same without failure limit" 0 flood 16
attack "logged-in watch list, after first" 10 watchlist 0
echo
"$B/bench_service_durability" 300 3
