#!/usr/bin/env bash
# scripts/wine-start and rig.wine_popen against a stand-in `wine` that plays a plan: one
# step per start. Each row runs through both, since both must tell Wine's silent give-up
# (status 1 soon after the start) from a program's own status. The give-up limit is widened
# to 400 ms so that a busy machine's slow stand-in is not taken for a program that ran.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/prefix"
cat >"$work/bin/wine" <<'FAKE'
#!/usr/bin/env bash
n=$(($(cat "$FAKE_COUNT" 2>/dev/null || echo 0) + 1))
echo "$n" >"$FAKE_COUNT"
read -ra plan <<<"$FAKE_PLAN"
case "${plan[n - 1]:-none}" in
gaveup) exit 1 ;;                 # what Wine's loader does when it gives up
ok) echo "ran $*"; exit 0 ;;
own1) sleep 1; exit 1 ;;        # the program ran and failed
quick3) exit 3 ;;
cat) cat; exit 0 ;;
*) echo "unplanned start $n"; exit 99 ;;
esac
FAKE
chmod +x "$work/bin/wine"

fails=0
# plan | stdin | expected status | expected output | expected starts
cases=(
    "gaveup ok||0|ran prog a|2"
    "gaveup gaveup ok||0|ran prog a|3"
    "gaveup gaveup gaveup||1||3"
    "own1||1||1"
    "quick3||3||1"
    "ok||0|ran prog a|1"
    "gaveup cat|typed line|0|typed line|2"
)
for row in "${cases[@]}"; do
    IFS='|' read -r plan input want_rc want_out want_starts <<<"$row"
    for how in shell python; do
        rm -f "$work/count"
        export FAKE_PLAN="$plan" FAKE_COUNT="$work/count" WINEPREFIX="$work/prefix" \
            VELKOR_WINE_GIVEUP_MS=400
        if [ "$how" = shell ]; then
            out="$(printf '%s' "$input" | PATH="$work/bin:$PATH" "$root/scripts/wine-start" prog a)"
            rc=$?
        else
            out="$(printf '%s' "$input" | PATH="$work/bin:$PATH" python3 -c '
import subprocess, sys
sys.path.insert(0, sys.argv[1])
import rig
rig.log = lambda text: print(text, file=sys.stderr)
p = rig.wine_popen(["prog", "a"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
sys.stdout.write(p.communicate()[0].decode())
sys.exit(p.returncode)' "$root/scripts" 2>/dev/null)"
            rc=$?
        fi
        starts="$(cat "$work/count")"
        if [ "$rc/$out/$starts" != "$want_rc/$want_out/$want_starts" ]; then
            echo "FAIL [$how] plan '$plan': status $rc, output '$out', $starts starts;" \
                "wanted $want_rc, '$want_out', $want_starts"
            fails=$((fails + 1))
        fi
    done
done
retries="$(wc -l <"$work/prefix/wine-start.log")"
# The shell notes every start it makes again: 1 + 2 + 2 + 1 (the third try is its last).
[ "$retries" = 6 ] || { echo "FAIL: wine-start.log notes $retries retries, wanted 6"; fails=$((fails + 1)); }
echo "$((${#cases[@]} * 2 - fails)) of $((${#cases[@]} * 2)) cases passed"
exit $((fails > 0))
