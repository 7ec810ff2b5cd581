#!/usr/bin/env bash
# Runs one fuzz target for a set time on a scratch copy of its committed seed
# corpus; new inputs that add coverage stay in the scratch corpus, crashes
# are written to fuzz/findings/.
#   fuzz/run.sh TARGET SECONDS [extra libFuzzer options]
# TARGET: reply | service | xmlwriter | request
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${VELMORA_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}"
target="${1:?target: reply | service | xmlwriter | request}"
seconds="${2:?seconds}"
shift 2

bin="$BUILD/fuzz_$target"
[ -x "$bin" ] || "$ROOT/fuzz/build.sh"
work="$BUILD/corpus-$target"
mkdir -p "$work" "$ROOT/fuzz/findings"
cp -n "$ROOT/fuzz/corpus/$target/"* "$work/" 2>/dev/null || true

export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="*.debug=false;qt.qpa.*=false"
# Qt keeps caches (fonts, icons, DOM name tables) for the life of the
# process; leaks are checked by the sanitizer build of the test suite.
export ASAN_OPTIONS="detect_leaks=0:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
dict=()
[ -f "$ROOT/fuzz/$target.dict" ] && dict=(-dict="$ROOT/fuzz/$target.dict")
exec "$bin" "$work" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -max_len=65536 \
    -artifact_prefix="$ROOT/fuzz/findings/$target-" -print_final_stats=1 "${dict[@]}" "$@"
