#!/usr/bin/env bash
# Runs the outside probes against a velmora-service binary and prints what
# each one got: hostile Range headers, slow and silent connections, a
# wrong-password flood, a second instance on the same port, odd encodings
# of the login, implausible prices, a missing package file, control bytes in
# the request target, and the demo account of an empty catalogue.
#   bench/probes.sh SERVICE_BINARY LOAD_BINARY     (LOAD_BINARY: bench_service_load)
# Loopback only; each probe starts its own service on a free port with a
# fresh database and stops it afterwards.
set -uo pipefail

SERVICE="$1"
LOAD="$2"
TMP="$(mktemp -d)"
PID=""
cleanup() { [ -n "$PID" ] && kill -9 "$PID" 2>/dev/null; rm -rf "$TMP"; }
trap cleanup EXIT

start() { # name [options...]: starts the service, sets PID and PORT
    local name="$1"; shift
    "$SERVICE" --port 0 --db "$TMP/$name.sqlite" "$@" >"$TMP/$name.out" 2>"$TMP/$name.log" &
    PID=$!
    for _ in $(seq 1 300); do grep -q Listening "$TMP/$name.out" 2>/dev/null && break; sleep 0.1; done
    PORT="$(sed -n 's/.*Listening on [^:]*:\([0-9]*\).*/\1/p' "$TMP/$name.out")"
}
stop() { # SIGTERM, and SIGKILL (reported) when it has not ended within 10 s
    kill "$PID" 2>/dev/null
    for _ in $(seq 1 200); do kill -0 "$PID" 2>/dev/null || break; sleep 0.05; done
    kill -0 "$PID" 2>/dev/null && { echo "  (did not stop within 10 s of SIGTERM; killed)"; kill -9 "$PID"; }
    wait "$PID" 2>/dev/null; PID=""
}
peak_mb() { awk '/VmHWM/{printf "%.0f", $2/1024}' "/proc/$PID/status"; }
rss_mb() { awk '/VmRSS/{printf "%.0f", $2/1024}' "/proc/$PID/status"; }
api() { curl -s -m 60 "http://127.0.0.1:$PORT/api/nokiaApp/$1"; }
row() { printf '%-28s %s\n' "$1" "$2"; }
refused_or_runs() { # label options...: does another service with these options exit, or serve?
    local label="$1"; shift
    "$SERVICE" "$@" >"$TMP/other.out" 2>"$TMP/other.log" &
    local other=$!
    sleep 4
    if kill -0 "$other" 2>/dev/null; then
        row "$label" "accepted, still running: $(cat "$TMP/other.out")"
        kill "$other"; wait "$other" 2>/dev/null
    else
        wait "$other"; row "$label" "exit $?: $(tail -1 "$TMP/other.log")"
    fi
}

echo "== probes against $SERVICE"

# 1. Thousands of ranges in one request.
start range
ranges="bytes=0-$(printf ',0-%.0s' $(seq 1 2599))"
before="$(rss_mb)"
size="$(curl -s -m 60 -o /dev/null -w '%{size_download} bytes, status %{http_code}' -H "Range: $ranges" \
    "http://127.0.0.1:$PORT/api/nokiaApp/getNearbyStations.php?latitude=53.3498&longitude=-6.2603&maxDistance=50")"
for _ in 1 2 3 4; do
    curl -s -m 60 -o /dev/null -H "Range: $ranges" \
        "http://127.0.0.1:$PORT/api/nokiaApp/getNearbyStations.php?latitude=53.3498&longitude=-6.2603&maxDistance=50" &
done
wait $(jobs -p | grep -v "^$PID$") 2>/dev/null
row "Range 2,600 parts" "$size; RSS ${before} MB before, peak $(peak_mb) MB after five such requests"
stop

# 2. Eight trickling connections: a reader, then SIGTERM while they hang on.
start trickle
row "8 trickling, reader" "$("$LOAD" "$PORT" trickle 8 8 1500)"
"$LOAD" "$PORT" trickle 8 40 1500 >/dev/null &
loadpid=$!
sleep 3
t0=$(date +%s%N)
kill -TERM "$PID"
for _ in $(seq 1 600); do kill -0 "$PID" 2>/dev/null || break; sleep 0.05; done
row "SIGTERM with 8 trickling" "exited after $(( ($(date +%s%N) - t0) / 1000000 )) ms"
kill -9 "$PID" 2>/dev/null; wait "$PID" 2>/dev/null; PID=""
kill "$loadpid" 2>/dev/null; wait "$loadpid" 2>/dev/null

# 3. Silent connections.
start silent
row "200 silent, reader" "$("$LOAD" "$PORT" silent 200 8 1500)"
stop

# 4. Wrong-password flood at the production iteration count.
start flood
for c in 8 16; do
    row "$c-conn wrong logins, reader" "$("$LOAD" "$PORT" flood "$c" 8 1500)"
done
stop

# 5. A second instance on the same port.
start first
refused_or_runs "second instance" --port "$PORT" --db "$TMP/second.sqlite"
stop

# 6-8. Encodings of the login, prices.
start login
row "%u0070assword=demo" "$(api 'addToWatchlist.php?username=demo&%u0070assword=demo&id=1'); log shows password: $(grep -c 'u0070assword=demo' "$TMP/login.log")"
row "password=demo%00" "$(api 'addToWatchlist.php?username=demo&password=demo%00&id=2')"
row "price=999.96" "$(api 'updatePrice.php?id=5&username=demo&password=demo&price=999.96&type=Petrol&appId=x'), station: $(api 'getStationById.php?id=5' | grep -o 'petrolPrice="[^"]*"')"
row "price=0.05" "$(api 'updatePrice.php?id=6&username=demo&password=demo&price=0.05&type=Petrol&appId=x'), station: $(api 'getStationById.php?id=6' | grep -o 'petrolPrice="[^"]*"')"

# 10. Control bytes in the target, and a request the HTTP layer refuses.
printf 'GET /x?a=1%%0a\x1b[2J\rforged HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n' \
    | timeout 5 bash -c "exec 3<>/dev/tcp/127.0.0.1/$PORT; cat >&3; cat <&3" >/dev/null 2>&1
printf 'BREW / HTTP/1.1\r\nHost: x\r\n' | timeout 12 bash -c "exec 3<>/dev/tcp/127.0.0.1/$PORT; cat >&3; cat <&3" \
    >/dev/null 2>&1
sleep 0.3
row "control bytes in target" "log lines with raw ESC/CR: $(grep -c $'\x1b\|\r' "$TMP/login.log"); last lines:"
tail -n 2 "$TMP/login.log" | cat -v | sed 's/^/      /'
stop

# 9. The package: a missing file, then 8 downloads of a 100 MB one.
refused_or_runs "--deb /nonexistent" --port 0 --db "$TMP/deb.sqlite" --deb /nonexistent
head -c 100000000 /dev/zero >"$TMP/big.deb"
start deb --deb "$TMP/big.deb"
before="$(rss_mb)"
for _ in $(seq 1 8); do curl -s -m 120 -o /dev/null "http://127.0.0.1:$PORT/velmora/velmora.deb" & done
wait $(jobs -p | grep -v "^$PID$") 2>/dev/null
row "8 x 100 MB downloads" "RSS ${before} MB before, peak $(peak_mb) MB"
stop

# 11. An empty catalogue.
start empty --demo-stations 0
row "--demo-stations 0" "demo/demo: $(api 'addToWatchlist.php?username=demo&password=demo&id=1') (ERROR: logged in, no station; BADLOGIN: no account)"
stop

# 12. Unknown user against wrong password, on accounts made with 100,000
# iterations by a service now run with --hash-iterations 1.
start iter
stop
start iter --hash-iterations 1
times() { for i in 1 2 3 4 5; do curl -s -o /dev/null -w '%{time_total} ' \
    "http://127.0.0.1:$PORT/api/nokiaApp/addToWatchlist.php?username=$1&password=wrong$i&id=1"; done; }
row "unknown vs wrong password" "unknown: $(times nobody)s; wrong: $(times demo)s; answers $(api 'addToWatchlist.php?username=nobody&password=x&id=1')/$(api 'addToWatchlist.php?username=demo&password=x&id=1')"
stop
