#!/usr/bin/env bash
# velkor-crypt encode-line/decode-line through pipes: CR LF and LF input, the LINE form,
# a pinned wire text, then a table of refusals, escapes, stream errors and usage errors.
# usage: test_velkor_crypt_lines.sh VELKOR_CRYPT WIRE_LINES_FILE
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
printf 'first line\r\nsecond äöü\n\nlast without an ending' >"$tmp/in"
"$tool" encode-line --key "$key" <"$tmp/in" >"$tmp/wire"
check "encode exit status" 0 "$?"
check "one wire text per line" 4 "$(wc -l <"$tmp/wire")"
check "empty line stays empty" "" "$(sed -n 3p "$tmp/wire")"
check "no CR in wire texts" "" "$(tr -d -c '\r' <"$tmp/wire")"
"$tool" decode-line --key "$key" <"$tmp/wire" >"$tmp/back"
check "decode exit status" 0 "$?"
printf 'first line\nsecond äöü\n\nlast without an ending\n' >"$tmp/expected"
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
# Typed in UTF-8, key and line go into the cipher in code page 1252, as velkor.exe users
# type them; --bytes takes the bytes as they are.
read -r keyhex linehex pinned < <(grep '^456e746572204b657921 e4f6fc' "$vectors")
check "UTF-8 typed, cp1252 wire text" "$pinned" "$("$tool" encode-line --key "Enter Key!" "äöü © café ÿ")"
check "UTF-8 back" "äöü © café ÿ" "$("$tool" decode-line --key "Enter Key!" "$pinned")"
check "--bytes" "$pinned" "$("$tool" encode-line --bytes --key "Enter Key!" "$(unhex "$linehex")")"
check "--bytes back" "$(unhex "$linehex")" "$("$tool" decode-line --key "Enter Key!" --bytes "$pinned")"

# Under another key every wire text deciphers to noise, often with CR, LF or a zero byte
# in it: still one output line per wire text.
head -c 45000 /dev/urandom | base64 -w 60 | "$tool" encode-line --key "$key" >"$tmp/many.wire"
check "1000 wire texts" 1000 "$(wc -l <"$tmp/many.wire")"
"$tool" decode-line --key "another key" <"$tmp/many.wire" >"$tmp/noise"
check "noise exit status" 0 "$?"
check "one noise line per wire text" 1000 "$(wc -l <"$tmp/noise")"
check "no CR in noise lines" "" "$(tr -d -c '\r' <"$tmp/noise")"

# ---- the table.
# row NAME SETUP STDIN STATUS STDOUT STDERR ARGS...
#   SETUP   runs in the shell that then becomes the tool (redirections)
#   STDIN   a file for standard input
#   STDOUT  the exact standard output ('-' when not checked)
#   STDERR  a pattern the whole of standard error must match
row() {
    local name=$1 setup=$2 input=$3 status=$4 want=$5 pattern=$6
    shift 6
    (eval "$setup" && exec timeout 20 "$tool" "$@") <"$input" >"$tmp/out" 2>"$tmp/err"
    check "$name: status" "$status" "$?"
    [ "$want" = - ] || check "$name: output" "$want." "$(cat "$tmp/out"; echo .)"
    # shellcheck disable=SC2053
    [[ "$(cat "$tmp/err")" == $pattern ]] || { echo "FAIL: $name: stderr [$(cat "$tmp/err")]"; fails=$((fails + 1)); }
}
wire() { "$tool" encode-line --key "$key" -- "$1"; }
ok="$(wire ok)"
printf 'hello\n%s\n0abc\n\n%s\n' "$ok" "$ok" >"$tmp/mixed"
head -c 1025 /dev/zero | tr '\0' x >"$tmp/long" && printf '\nok\n' >>"$tmp/long"
{ head -c 3000000 /dev/zero | tr '\0' x; printf '\n%s\n' "$ok"; } >"$tmp/huge"
line185="$(printf '%0185d' 7)"
line1024="$(printf '%01024d' 7)"
none=/dev/null
usage='velkor-crypt: *usage: velkor-crypt*'

# 5. Deciphered CR, LF, zero bytes and backslashes are escaped, so one line stays one line.
row "escapes"            '' $none 0 $'a\\rb\\nc\\\\d\n' '' decode-line --key "$key" "$(wire $'a\rb\nc\\d')"
row "--raw"              '' $none 0 $'a\rb\nc\\d\n'        '' decode-line --key "$key" --raw "$(wire $'a\rb\nc\\d')"
# 7. A refusal names its line, keeps the line count and makes the exit status 1.
row "not a wire text"    '' $none 1 $'\n'      'velkor-crypt: line 1: not a wire text' decode-line --key "$key" hello
row "refusals in a stream" '' "$tmp/mixed" 1 $'\nok\n\n\nok\n' \
    $'velkor-crypt: line 1: not a wire text\nvelkor-crypt: line 3: not a wire text' decode-line --key "$key"
row "body of 1368 + digit" '' $none 1 $'\n' 'velkor-crypt: line 1: not a wire text' decode-line --key "$key" "0$(printf '%01368d' 0)"
row "line over 1024 bytes" '' "$tmp/long" 1 $'\n'"$ok"$'\n' 'velkor-crypt: line 1 refused: longer than 1024 bytes' \
    encode-line --key "$key"
row "1024-byte line"     '' $none 0 '-' 'velkor-crypt: line 1: the wire text has 1369 characters; velkor sends at most 256' \
    encode-line --key "$key" "$line1024"
row "1024-byte line back" '' $none 0 "$line1024"$'\n' '' decode-line --key "$key" "$(wire "$line1024" 2>/dev/null)"
row "not UTF-8"          '' $none 1 $'\n' 'velkor-crypt: line 1 refused: it is not valid UTF-8' encode-line --key "$key" $'\xe4'
row "no cp1252 form"     '' $none 1 $'\n' 'velkor-crypt: line 1 refused: it holds "→" (U+2192), which the Windows code page 1252 cannot write' \
    encode-line --key "$key" "a → b"
row "byte without a character" '' $none 0 $'a\\x81\n' '' decode-line --key "$key" "$("$tool" encode-line --bytes --key "$key" $'a\x81')"
row "zero byte in a line" '' <(printf 'a\0b\n') 1 $'\n' 'velkor-crypt: line 1 refused: it holds a zero byte' encode-line --key "$key"
# Lines over 1 MiB are read to their end, not kept, and refused.
row "3 MB line encoded"  '' "$tmp/huge" 1 '-'  'velkor-crypt: line 1 refused: longer than 1024 bytes' encode-line --key "$key"
row "3 MB line decoded"  '' "$tmp/huge" 1 $'\nok\n' 'velkor-crypt: line 1: not a wire text' decode-line --key "$key"
row "wire text over 256" '' $none 0 '-' 'velkor-crypt: line 1: the wire text has 257 characters; velkor sends at most 256' \
    encode-line --key "$key" "$line185"
# 4. Every output and input error ends the run with exit status 1 and the reason.
row "encode to a full disk" 'exec >/dev/full' "$tmp/in" 1 - 'velkor-crypt: standard output: No space left on device' \
    encode-line --key "$key"
row "decode to a full disk" 'exec >/dev/full' "$tmp/wire" 1 - 'velkor-crypt: standard output: No space left on device' \
    decode-line --key "$key"
row "LINE to a full disk" 'exec >/dev/full' $none 1 - 'velkor-crypt: standard output: No space left on device' \
    encode-line --key "$key" x
row "closed stdout"      'exec >&-'  "$tmp/in" 1 - 'velkor-crypt: standard output: Bad file descriptor' encode-line --key "$key"
row "stdin a folder"     ''  "$tmp" 1 '' 'velkor-crypt: standard input: Is a directory' decode-line --key "$key"
# 2. Bad calls: exit status 2 and the usage line.
row "no key"             '' $none 2 '' "$usage" encode-line
row "key without value"  '' $none 2 '' "$usage" encode-line --key
row "two lines"          '' $none 2 '' "$usage" decode-line --key k a b
row "file option"        '' $none 2 '' "$usage" encode-line --key k --mode ecb x
row "--raw to encode"    '' $none 2 '' "$usage" encode-line --key k --raw x

# Memory stays bounded on an endless line: 48 MiB without a line end.
mkfifo "$tmp/fifo"
"$tool" decode-line --key "$key" <"$tmp/fifo" >"$tmp/out" 2>/dev/null &
reader=$!
exec 3>"$tmp/fifo"
head -c 50331648 /dev/zero | tr '\0' x >&3
peak="$(sed -n 's/^VmHWM:[^0-9]*\([0-9]*\).*/\1/p' "/proc/$reader/status")"
exec 3>&-
wait "$reader"
[ -n "$peak" ] && [ "$peak" -lt 24576 ] || { echo "FAIL: reading a 48 MiB line took ${peak:-?} KiB"; fails=$((fails + 1)); }

if [ "$fails" -ne 0 ]; then
    echo "$fails check(s) failed"
    exit 1
fi
echo "all line command checks passed"
