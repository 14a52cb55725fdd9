#!/usr/bin/env bash
# Builds every fuzz/fuzz_NAME.cpp with clang (libFuzzer, ASan, UBSan) into build/fuzz and
# runs each for a bounded time on a copy of fuzz/corpus/NAME. Non-zero exit on any crash.
# VELKOR_FUZZ_SECONDS (default 30) per target; extra libFuzzer flags for one target may be
# listed in fuzz/fuzz_NAME.options, one per line.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${VELKOR_FUZZ_SECONDS:-30}"
out=build/fuzz

cmake -S fuzz -B "$out" -DCMAKE_CXX_COMPILER="${VELKOR_FUZZ_CXX:-clang++}" >/dev/null
cmake --build "$out" -j"${VELKOR_JOBS:-2}"

failed=()
for src in fuzz/fuzz_*.cpp; do
    [ -e "$src" ] || continue
    target="$(basename "$src" .cpp)"
    name="${target#fuzz_}"
    run="$out/run/$name"
    rm -rf "$run"
    mkdir -p "$run/corpus" "$run/artifacts"
    if [ -d "fuzz/corpus/$name" ]; then
        cp -R "fuzz/corpus/$name/." "$run/corpus/"
    fi
    flags=(-max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048
           -print_final_stats=1 -artifact_prefix="$run/artifacts/")
    if [ -f "fuzz/$target.options" ]; then
        while IFS= read -r opt; do
            [ -n "$opt" ] && [ "${opt:0:1}" != "#" ] && flags+=("$opt")
        done <"fuzz/$target.options"
    fi
    echo "--- $target: ${seconds}s"
    if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$out/$target" "${flags[@]}" "$run/corpus" >"$run/log" 2>&1; then
        tail -n 40 "$run/log"
        echo "FAIL: $target (artifacts in $run/artifacts)"
        failed+=("$target")
    else
        grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$run/log" || true
        grep -E 'cov: [0-9]+' "$run/log" | tail -n 1 || true
    fi
done

if ((${#failed[@]})); then
    echo "fuzz targets failed: ${failed[*]}"
    exit 1
fi
