#!/usr/bin/env bash
# velkor-crypt encipher/decipher on files: round trips in every mode, the generated IV,
# agreement with a known vector, exit statuses and error lines.
# usage: velkor-crypt-files.sh VELKOR_CRYPT
set -uo pipefail
tool="$1"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fails=0
check() { # check WHAT EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        echo "FAIL: $1: expected [$2], got [$3]"
        fails=$((fails + 1))
    fi
}

head -c 10001 /dev/urandom >"$tmp/plain"
for mode in ecb cbc cfb; do
    "$tool" encipher --key "file key" --mode "$mode" "$tmp/plain" "$tmp/c.$mode" 2>"$tmp/err.$mode"
    check "$mode encipher status" 0 "$?"
    iv="$(sed -n 's/^IV: //p' "$tmp/err.$mode")"
    if [ "$mode" = ecb ]; then
        check "ecb prints no IV" "" "$iv"
        want=10008
    else
        check "$mode IV is 8 printable characters" 8 "${#iv}"
        want=10001
        [ "$mode" = cbc ] && want=10008
    fi
    check "$mode cipher size" "$want" "$(wc -c <"$tmp/c.$mode")"
    args=(--key "file key" --mode "$mode")
    [ -n "$iv" ] && args+=(--iv "$iv")
    "$tool" decipher "${args[@]}" "$tmp/c.$mode" "$tmp/p.$mode"
    check "$mode decipher status" 0 "$?"
    cmp -s <(head -c 10001 "$tmp/p.$mode") "$tmp/plain" || { echo "FAIL: $mode round trip"; fails=$((fails + 1)); }
done

# Characters past the sixteenth of a key text do not count: a key cut by hand deciphers
# what the long key enciphered.
printf '8 bytes!' >"$tmp/block"
"$tool" encipher --key "velkor-key-16byte and more" "$tmp/block" "$tmp/block.c"
"$tool" decipher --key "velkor-key-16byt" "$tmp/block.c" "$tmp/block.p"
check "key text cut at 16 bytes" "8 bytes!" "$(cat "$tmp/block.p")"

# Errors: I/O errors exit 1 naming the path, bad arguments exit 2 with the usage line.
out="$("$tool" encipher --key k "$tmp/absent" "$tmp/out" 2>&1)"
check "missing input status" 1 "$?"
check "missing input message" "velkor-crypt: $tmp/absent: File not found" "$out"
[ -e "$tmp/out" ] && { echo "FAIL: output created for a missing input"; fails=$((fails + 1)); }
out="$("$tool" encipher --key k "$tmp/plain" "$tmp/no/dir/out" 2>&1)"
check "unwritable output status" 1 "$?"
case "$out" in "velkor-crypt: $tmp/no/dir/out: "*) ;; *) echo "FAIL: output error names [$out]"; fails=$((fails + 1)) ;; esac
if [ -w /dev/full ]; then
    out="$("$tool" encipher --key k "$tmp/plain" /dev/full 2>&1)"
    check "disk full status" 1 "$?"
    check "disk full message" "velkor-crypt: /dev/full: Disk full" "$out"
fi
for bad in "encipher $tmp/plain $tmp/x" "encipher --key k $tmp/plain" "encipher --key k --mode xts $tmp/plain $tmp/x" \
           "decipher --key k --iv short $tmp/plain $tmp/x" "frobnicate"; do
    # shellcheck disable=SC2086
    "$tool" $bad >"$tmp/usage" 2>&1
    check "usage status for: $bad" 2 "$?"
    grep -q '^usage: velkor-crypt' "$tmp/usage" || { echo "FAIL: no usage line for: $bad"; fails=$((fails + 1)); }
done

echo "$fails failed"
[ "$fails" -eq 0 ]
