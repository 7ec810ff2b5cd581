#!/usr/bin/env bash
# Takes screenshots of the running client on a landscape 800x480 and a
# portrait 480x800 screen, each in its own virtual X server, and saves them
# as <dir>/velmora-800x480.png and <dir>/velmora-480x800.png (the county
# list), <dir>/velmora-800x480-nearby.png and velmora-480x800-nearby.png (the
# stations near the replayed GPS position, with their prices),
# velmora-1920x1080-nearby.png (the same on a desktop, the window filling
# the screen as a maximised one does) and velmora-800x480-report.png (a
# station page after a price report; needs xdotool).
# The tab bar sits on the left in landscape and at the bottom in portrait.
#
#   scripts/screenshots.sh <output dir>
#
# The reference service (when built) runs on 127.0.0.1:8642 with demo data so
# the county list is filled; the client's settings go to a temporary
# directory and the user's own store is never touched.
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 <output dir>" >&2
    exit 2
fi
OUT_DIR="$(mkdir -p "$1" && cd "$1" && pwd)"

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${VELMORA_BUILD_DIR:-$ROOT/build}"
WORK="$(mktemp -d)"
SERVICE_PID=""
cleanup() {
    if [ -n "$SERVICE_PID" ]; then
        kill "$SERVICE_PID" 2>/dev/null || true
        wait "$SERVICE_PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT

if [ ! -x "$BUILD_DIR/velmora" ]; then
    cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="${VELMORA_BUILD_TYPE:-RelWithDebInfo}"
    cmake --build "$BUILD_DIR" -j2 --target velmora
fi

# A tiny Qt program that saves the whole X screen as a PNG.
mkdir -p "$WORK/grab"
cat > "$WORK/grab/grab.cpp" <<'CPP'
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2 || !QGuiApplication::primaryScreen())
        return 2;
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    return shot.save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
CPP
cat > "$WORK/grab/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(grab CXX)
find_package(Qt6 REQUIRED COMPONENTS Gui)
add_executable(grab grab.cpp)
target_link_libraries(grab PRIVATE Qt6::Gui)
CMAKE
cmake -S "$WORK/grab" -B "$WORK/grab/build" >/dev/null
cmake --build "$WORK/grab/build" >/dev/null
GRAB="$WORK/grab/build/grab"

SERVICE="$BUILD_DIR/service/velmora-service"
if [ -x "$SERVICE" ]; then
    "$SERVICE" --listen 127.0.0.1 --port 8642 --db "$WORK/velmora.sqlite" --latest-version 05.4 \
        >"$WORK/service.log" 2>&1 &
    SERVICE_PID=$!
    sleep 1
fi

# The replay position plugin, when built, puts the GPS tab in Dublin.
if [ -d "$BUILD_DIR/plugins" ]; then
    export QT_PLUGIN_PATH="$BUILD_DIR/plugins${QT_PLUGIN_PATH:+:$QT_PLUGIN_PATH}"
fi

# The client is run as a user would, with the demo account filled in, so a
# price report is accepted. No keyring is reachable (the bus address leads
# nowhere), so the user's own is never touched.
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/velmora-screenshots

# One run of the client in a fresh virtual X server of the given size,
# opening on the given start tab (0 counties, 1 nearby stations). The window
# fills the screen, as a maximised one does. With a fifth argument, that
# script of xdotool commands is played before the shot.
shoot() {
    local width=$1 height=$2 tab=${3:-0} suffix=${4:-} actions=${5:-}
    local file="$OUT_DIR/velmora-${width}x${height}${suffix}.png"
    local config="$WORK/config-${width}x${height}${suffix}"
    mkdir -p "$config/Orvane Software"
    printf '[General]\nstartTab=%s\nusername=demo\npassword=demo\n' "$tab" \
        > "$config/Orvane Software/Velmora.conf"
    XDG_CONFIG_HOME="$config" \
    xvfb-run -a -s "-screen 0 ${width}x${height}x24" bash -c '
        "$1" -geometry "$2x$3+0+0" &
        client=$!
        sleep "${VELMORA_SHOT_DELAY:-4}"
        if [ -n "$6" ]; then
            eval "$6"
        fi
        "$4" "$5"
        status=$?
        kill "$client" 2>/dev/null
        wait "$client" 2>/dev/null
        exit $status
    ' shoot "$BUILD_DIR/velmora" "$width" "$height" "$GRAB" "$file" "$actions"
    echo "$file"
}

shoot 800 480
shoot 480 800
shoot 800 480 1 -nearby
shoot 480 800 1 -nearby
shoot 1920 1080 1 -nearby
# A report: the first nearby station opened with a click, then from the
# keyboard its petrol price stepped up once (Tab to "+", Space) and reported
# (Tab to the tick, Space); the page then shows what the service has for the
# station after the report. Without a window manager the keys go to the
# window under the pointer.
if command -v xdotool >/dev/null; then
    shoot 800 480 1 -report '
        xdotool mousemove 300 50 click 1; sleep 2
        xdotool key Tab Tab space Tab space; sleep 3'
fi
