#!/usr/bin/env bash
# Boots a Wine prefix for the tests and the demo (run inside an X display, Xvfb), and ends
# everything that runs in one.
# usage: wine-prefix.sh boot|kill PREFIX
#   boot  starts the prefix's wineserver and boots it; a prefix that Wine can no longer run
#         programs in (made by another Wine, a broken first boot) is made afresh; exits 1
#         with the probe's output when even a fresh prefix cannot start a program
#   kill  ends the wineserver and then, by PID, any process still holding the prefix
set -euo pipefail
cmd="${1:-}"
prefix="${2:-}"
if [ -z "$prefix" ] || { [ "$cmd" != boot ] && [ "$cmd" != kill ]; }; then
    echo "usage: wine-prefix.sh boot|kill PREFIX" >&2
    exit 2
fi
export WINEDEBUG=-all
# Named explicitly where needed: nothing else this script starts may hold the prefix.
unset WINEPREFIX
stamp="$prefix/velkor-wine.stamp"

in_prefix() { WINEPREFIX="$prefix" "$@" </dev/null; }

# The processes whose environment names this prefix, apart from this script and its
# callers (a test runner that exported WINEPREFIX for its children holds it too).
prefix_pids() {
    local keep=" " pid=$BASHPID d
    while [ -n "$pid" ] && [ "$pid" != 0 ]; do
        keep+="$pid "
        pid="$(awk '/^PPid:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)"
    done
    local want="WINEPREFIX=$prefix" real
    real="WINEPREFIX=$(realpath -m "$prefix")"
    for d in /proc/[0-9]*; do
        pid="${d#/proc/}"
        [[ "$keep" == *" $pid "* ]] && continue
        grep -qzxF -e "$want" -e "$real" -e "$want/" -e "$real/" "$d/environ" 2>/dev/null && echo "$pid"
    done
    return 0
}

# wineserver -k does not always take everything with it: after a prefix's first boot on a
# loaded machine, services.exe, winedevice.exe and friends were seen living on for hours,
# parented to init. What is left is ended by its PID, never by its name, so another
# prefix's programs (another user's desktop) are never touched.
end_prefix() {
    in_prefix wineserver -k >/dev/null 2>&1 || true
    in_prefix timeout 10 wineserver -w >/dev/null 2>&1 || true
    local pids tries
    pids="$(prefix_pids)"
    [ -z "$pids" ] && return 0
    # shellcheck disable=SC2086
    kill -TERM $pids 2>/dev/null || true
    for tries in $(seq 20); do
        pids="$(prefix_pids)"
        [ -z "$pids" ] && return 0
        sleep 0.1
    done
    # shellcheck disable=SC2086
    kill -KILL $pids 2>/dev/null || true
}

# What this machine's Wine is: a prefix made by another Wine (say, before the 32-bit side
# was installed) may no longer start programs.
wine_identity() {
    wine --version 2>/dev/null || true
    ls /usr/lib/wine /usr/lib/*/wine 2>/dev/null | tr '\n' ' '
}

boot_once() {
    mkdir -p "$prefix" # wineserver refuses a prefix folder that does not exist yet
    # Helper processes inherit stdout/stderr: start them first with nowhere to write, so
    # no caller's pipe is held open by them.
    in_prefix wineserver -p >/dev/null 2>&1
    in_prefix wine wineboot -i >/dev/null 2>&1 || true
    # Let Wine draw captions itself: no window manager runs under Xvfb.
    in_prefix wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
}

# A program Wine ships in every prefix; its answer shows that programs start.
probe() { in_prefix timeout 60 wine cmd /c echo velkor-prefix-ok 2>&1; }

# Says why, ends what runs in the prefix and removes it, for boot_once to make afresh.
remake() {
    echo "wine-prefix: $prefix $1; making it afresh" >&2
    end_prefix
    rm -rf "$prefix"
}

case "$cmd" in
boot)
    identity="$(wine_identity)"
    if [ -d "$prefix" ] && [ "$(cat "$stamp" 2>/dev/null)" != "$identity" ]; then
        if [ -f "$stamp" ] || [ -n "$(ls -A "$prefix" 2>/dev/null)" ]; then
            remake "was made by another Wine"
        fi
    fi
    boot_once
    out="$(probe || true)"
    if ! grep -q velkor-prefix-ok <<<"$out"; then
        remake "cannot start programs"
        boot_once
        out="$(probe || true)"
        if ! grep -q velkor-prefix-ok <<<"$out"; then
            echo "wine-prefix: a fresh prefix $prefix cannot start programs either;" \
                "'wine cmd /c echo' said:" >&2
            printf '%s\n' "$out" | tail -20 >&2
            end_prefix
            exit 1
        fi
    fi
    printf '%s' "$identity" >"$stamp"
    ;;
kill)
    end_prefix
    ;;
esac
