#!/usr/bin/env bash
# scripts/wine-prefix.sh against stand-ins for wine and wineserver. kill: whatever still
# holds the prefix in its environment is ended by PID (also one that ignores SIGTERM),
# while the caller, which holds it too, and another prefix's processes live on. boot: a
# prefix made by another Wine, or one that cannot start a program, is made afresh; one that
# cannot even then is an error that shows what the program said.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
pids=()
trap 'kill -KILL "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/bin"
cat >"$work/bin/wine" <<'FAKE'
#!/usr/bin/env bash
case "$1" in
--version) echo "wine-stand-in 1" ;;
cmd) # the probe: broken N times (a count in the prefix's parent), then answers
    n=$(($(cat "$FAKE_BROKEN" 2>/dev/null || echo 0)))
    if ((n > 0)); then echo $((n - 1)) >"$FAKE_BROKEN"; echo "could not load kernel32.dll"; exit 1; fi
    echo "$4" ;;
esac
exit 0
FAKE
printf '#!/bin/sh\nexit 0\n' >"$work/bin/wineserver"
chmod +x "$work/bin/wine" "$work/bin/wineserver"
export PATH="$work/bin:$PATH"
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

# ---- kill: a row is how the leftover holds the prefix | whether it must be gone ----
p="$work/prefix"
rows=(
    "plain|gone"
    "slash|gone"
    "ignores-term|gone"
    "other-prefix|alive"
)
for row in "${rows[@]}"; do
    IFS='|' read -r how want <<<"$row"
    case "$how" in
    plain) env="WINEPREFIX=$p" cmd=(sleep 60) ;;
    slash) env="WINEPREFIX=$p/" cmd=(sleep 60) ;;
    ignores-term) env="WINEPREFIX=$p" cmd=(bash -c 'trap "" TERM; while :; do sleep 0.1; done') ;;
    other-prefix) env="WINEPREFIX=$p-other" cmd=(sleep 60) ;;
    esac
    setsid env "$env" "${cmd[@]}" </dev/null >/dev/null 2>&1 &
    pid=$!
    pids+=("$pid")
    sleep 0.2
    # The caller holds the prefix as well, as a test runner that exported it does.
    WINEPREFIX="$p" bash "$root/scripts/wine-prefix.sh" kill "$p" || fail "[$how] kill said $?"
    sleep 0.2
    if kill -0 "$pid" 2>/dev/null; then got=alive; else got=gone; fi
    [ "$got" = "$want" ] || fail "[$how] leftover is $got, wanted $want"
    kill -KILL "$pid" 2>/dev/null
    { wait "$pid"; } 2>/dev/null
done

# ---- boot: made by this Wine | probes that fail | status | kept, afresh or error ----
rows=(
    "1|0|0|kept"
    "0|0|0|afresh"
    "1|1|0|afresh"
    "1|2|1|error"
)
for row in "${rows[@]}"; do
    IFS='|' read -r made broken want_rc want <<<"$row"
    rm -rf "$p"
    bash "$root/scripts/wine-prefix.sh" boot "$p" >/dev/null 2>&1 # made by this Wine
    [ "$made" = 0 ] && echo "wine-stand-in 0" >"$p/velkor-wine.stamp"
    touch "$p/marker"
    echo "$broken" >"$work/broken"
    err="$(FAKE_BROKEN="$work/broken" bash "$root/scripts/wine-prefix.sh" boot "$p" 2>&1)"
    rc=$?
    if [ -f "$p/marker" ]; then got=kept; else got=afresh; fi
    ((rc != 0)) && got=error
    [ "$rc/$got" = "$want_rc/$want" ] || fail "[made $made, $broken broken] status $rc, $got; wanted $want_rc, $want: $err"
    if [ "$want" = error ] && ! grep -q "could not load kernel32.dll" <<<"$err"; then
        fail "[made $made, $broken broken] the error does not show the program's output: $err"
    fi
done

echo "$((8 - fails)) passed, $fails failed"
exit $((fails > 0))
