#!/usr/bin/env bash
# velkor-crypt encode-line/decode-line through pipes: CR LF and LF input, the LINE form,
# a pinned wire text, refusals and usage errors.
# usage: velkor-crypt-lines.sh VELKOR_CRYPT WIRE_LINES_FILE
set -uo pipefail
tool="$1"
vectors="$2"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fails=0
check() { # check WHAT EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        echo "FAIL: $1"
        echo "  expected: $(printf '%s' "$2" | od -c | head -5)"
        echo "  actual:   $(printf '%s' "$3" | od -c | head -5)"
        fails=$((fails + 1))
    fi
}

key="bot key"
printf 'first line\r\nsecond \xe4\xf6\xfc\n\nlast without an ending' >"$tmp/in"
"$tool" encode-line --key "$key" <"$tmp/in" >"$tmp/wire"
check "encode exit status" 0 "$?"
check "one wire text per line" 4 "$(wc -l <"$tmp/wire")"
check "empty line stays empty" "" "$(sed -n 3p "$tmp/wire")"
check "no CR in wire texts" "" "$(tr -d -c '\r' <"$tmp/wire")"
"$tool" decode-line --key "$key" <"$tmp/wire" >"$tmp/back"
printf 'first line\nsecond \xe4\xf6\xfc\n\nlast without an ending\n' >"$tmp/expected"
cmp -s "$tmp/expected" "$tmp/back" || { echo "FAIL: decode of encode differs"; od -c "$tmp/back"; fails=$((fails + 1)); }

# CR LF and LF endings give the same wire text; the LINE form gives it too.
check "CR LF ending dropped" "$(sed -n 1p "$tmp/wire")" "$(printf 'first line\n' | "$tool" encode-line --key "$key")"
check "LINE argument" "$(sed -n 1p "$tmp/wire")" "$("$tool" encode-line --key "$key" 'first line')"
check "LINE argument back" "first line" "$("$tool" decode-line --key "$key" "$(sed -n 1p "$tmp/wire")")"
check "LINE after --" "$("$tool" encode-line --key "$key" -- '--dashes')" \
    "$(printf -- '--dashes\n' | "$tool" encode-line --key "$key")"

# A pinned wire text from the vectors: key and line in hex.
read -r keyhex linehex pinned < <(grep -v '^#' "$vectors" | grep -v '^-' | head -1)
unhex() { printf "$(printf '%s' "$1" | sed 's/../\\x&/g')"; }
pkey="$(unhex "$keyhex")"
pline="$(unhex "$linehex")"
check "pinned wire text" "$pinned" "$("$tool" encode-line --key "$pkey" "$pline")"
check "pinned line back" "$pline" "$(printf '%s\r\n' "$pinned" | "$tool" decode-line --key "$pkey")"

# A refused line still gives its (empty) output line, and the exit status says so.
head -c 1025 /dev/zero | tr '\0' x >"$tmp/long"
printf '\nok\n' >>"$tmp/long"
"$tool" encode-line --key "$key" <"$tmp/long" >"$tmp/long.wire" 2>"$tmp/long.err"
check "refused line exit status" 1 "$?"
check "refused line keeps alignment" 2 "$(wc -l <"$tmp/long.wire")"
check "refused line is empty" "" "$(sed -n 1p "$tmp/long.wire")"
check "line after a refusal" "ok" "$("$tool" decode-line --key "$key" "$(sed -n 2p "$tmp/long.wire")")"
grep -q "line 1 refused" "$tmp/long.err" || { echo "FAIL: no refusal message"; fails=$((fails + 1)); }
check "not a wire text decodes to nothing" "" "$("$tool" decode-line --key "$key" 'hello')"

for bad in "encode-line" "encode-line --key" "decode-line --key k a b" "encode-line --key k --mode ecb x"; do
    # shellcheck disable=SC2086
    "$tool" $bad </dev/null >/dev/null 2>"$tmp/usage"
    check "usage error: $bad" 2 "$?"
    grep -q '^usage:' "$tmp/usage" || { echo "FAIL: no usage line for: $bad"; fails=$((fails + 1)); }
done

if [ "$fails" -ne 0 ]; then
    echo "$fails check(s) failed"
    exit 1
fi
echo "all line command checks passed"
