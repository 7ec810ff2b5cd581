#!/bin/sh
# Rebuilds the image generator and redraws every picture into resources/images/.
# Usage: resources/tools/regenerate.sh [build-dir]
set -eu

TOOLS_DIR=$(cd "$(dirname "$0")" && pwd)
OUT_DIR=$(cd "$TOOLS_DIR/.." && pwd)/images
BUILD_DIR=${1:-${TMPDIR:-/tmp}/velmora-drawicons-build}

cmake -S "$TOOLS_DIR" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" --target velmora_drawicons -j2

mkdir -p "$OUT_DIR"
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/velmora_drawicons" "$OUT_DIR"
echo "Images written to $OUT_DIR"
