#!/usr/bin/env bash
# Configures and builds the fuzz targets with clang in their own directory.
#   fuzz/build.sh        (VELMORA_FUZZ_BUILD_DIR overrides the directory)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${VELMORA_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}"
CC=clang CXX=clang++ cmake -S "$ROOT/fuzz" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"${VELMORA_JOBS:-$(nproc)}" --target fuzz_reply fuzz_service fuzz_xmlwriter fuzz_request
