#!/usr/bin/env bash
# Builds everything from nothing (packages, dependencies, Wine prefix included)
# and runs every test: the native sanitizer build (unit tests and bounded fuzzer
# runs), a smoke run of the benchmarks, then the Windows build under Wine. Ends with ctest's summary line of the Windows run.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${CAMTOVRA_BUILD_DIR:-$ROOT/build}"
JOBS="${JOBS:-$(nproc)}"

"$ROOT/scripts/build.sh"

status=0
echo "== native tests (ASan, UBSan)"
ctest --test-dir "$BUILD/native" -j "$JOBS" --output-on-failure || status=1

echo "== benchmarks (one short smoke run each)"
ctest --test-dir "$BUILD/bench" -L benchmark -j "$JOBS" --output-on-failure || status=1

echo "== Windows tests (Wine; the Wine benchmarks smoke-run here too, label benchmark)"
"$ROOT/scripts/wine-prefix.sh" "$BUILD/win/wineprefix" start
trap '"$ROOT/scripts/wine-prefix.sh" "$BUILD/win/wineprefix" stop' EXIT
# No case is run twice: the tests themselves tell a step that Wine's transport
# failed (a program start, a COM activation, unmarshalling, a first call) from
# a failure of ours and try only that step again (testing/test_support).
ctest --test-dir "$BUILD/win" -j "$JOBS" --output-on-failure || status=1

# What the run forgave Wine, counted in the log of every case: steps of COM's
# transport tried again (each retry prints one "transport retry" line),
# program starts that Wine failed before main, and loader aborts after a
# finished teardown (both printed by wine-run.sh).
log="$BUILD/win/Testing/Temporary/LastTest.log"
count() { grep -c -- "$1" "$log" 2>/dev/null || true; }
echo "== Wine's transport in this run: $(count 'transport retry') COM transport retries," \
  "$(count 'Wine failed its start') program starts retried," \
  "$(count "Wine's loader aborted at process exit") loader aborts forgiven"
exit $status
