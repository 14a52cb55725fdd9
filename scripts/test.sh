#!/usr/bin/env bash
# Every test: native build, native under ASan/UBSan, fuzzers for a bounded time, and the
# Windows build under Wine with Xvfb. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
bash scripts/deps.sh

jobs="${VELKOR_JOBS:-2}"
failed=()
step() { echo; echo "=== $*"; }

step "format and layering"
# Every C++ file as the repository's .clang-format writes it; no folder includes from one
# above it (scripts/layers.py prints the folder graph).
if git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror; then
    echo "format: clean"
else
    echo "format: run clang-format -i on the files above"
    failed+=(format)
fi
python3 scripts/layers.py || failed+=(layering)

step "native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"
ctest --preset native || failed+=(native)

step "native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset native-asan || failed+=(native-asan)

if [ -x scripts/fuzz.sh ]; then
    step "fuzzers (bounded time)"
    bash scripts/fuzz.sh || failed+=(fuzz)
fi

step "Windows build and tests under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"
# bob's 32-bit ircpeer for the mixed-width chat row (mIRC is a 32-bit program)
cmake --preset windows-i686 >/dev/null
cmake --build --preset windows-i686 -j"$jobs"
# The prefix is named inside the display's shell only, so that the X server started for it
# does not hold the prefix in its environment.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -u
    export WINEPREFIX="$1"
    trap "scripts/wine-prefix.sh kill \"\$WINEPREFIX\"" EXIT
    scripts/wine-prefix.sh boot "$WINEPREFIX" || exit 1
    rm -f "$WINEPREFIX/wine-start.log"
    ctest --preset windows
    rc=$?
    if [ -s "$WINEPREFIX/wine-start.log" ]; then
        echo "Wine gave up on these starts; each was started again:"
        cat "$WINEPREFIX/wine-start.log"
    fi
    exit $rc' _ "$root/build/windows/wineprefix" || failed+=(windows)

echo
if ((${#failed[@]})); then
    echo "FAILED: ${failed[*]}"
    exit 1
fi
echo "all test suites passed"
