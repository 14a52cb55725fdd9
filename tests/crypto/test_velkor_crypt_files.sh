#!/usr/bin/env bash
# velkor-crypt encipher/decipher on files: round trips in every mode, the generated IV,
# agreement with a known vector, then a table of the calls a user or a script gets wrong
# or runs on unusual files, each with its exit status, message and effect on the files.
# usage: test_velkor_crypt_files.sh VELKOR_CRYPT
set -uo pipefail
tool="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" # the cases run in their own folder
tmp="$(mktemp -d)"
loopdev=""
trap '[ -z "$loopdev" ] || losetup -d "$loopdev"; rm -rf "$tmp"' EXIT
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

# The IV comes from the system's random source: 200 runs at once, 200 different IVs.
seq 200 | xargs -P 50 -I{} "$tool" encipher --key k --mode cfb "$tmp/plain" /dev/null 2>&1 |
    sed -n 's/^IV: //p' | sort -u | wc -l >"$tmp/ivs"
check "200 runs at once give 200 IVs" 200 "$(cat "$tmp/ivs")"

# Characters past the sixteenth of a key text do not count: a key cut by hand deciphers
# what the long key enciphered.
printf '8 bytes!' >"$tmp/block"
"$tool" encipher --key "velkor-key-16byte and more" "$tmp/block" "$tmp/block.c"
"$tool" decipher --key "velkor-key-16byt" "$tmp/block.c" "$tmp/block.p"
check "key text cut at 16 bytes" "8 bytes!" "$(cat "$tmp/block.p")"

# ---- the table. Every case runs in a fresh folder holding X (a copy of plain, kept as
# X.orig) and ref.cfb (plain enciphered in CFB under key k and vector 12345678).
# row NAME SETUP STATUS STDERR AFTER ARGS...
#   SETUP   runs in the folder, in the shell that then becomes the tool (ulimit, redirections)
#   STDERR  a pattern the whole of standard error must match
#   AFTER   must hold in the folder afterwards
row() {
    local name=$1 setup=$2 status=$3 pattern=$4 after=$5
    shift 5
    local dir="$tmp/case"
    rm -rf "$dir" && mkdir "$dir" && cp "$tmp/plain" "$dir/X" && cp "$tmp/plain" "$dir/X.orig" &&
        cp "$tmp/ref.cfb" "$dir/ref.cfb" || exit 2
    (cd "$dir" && eval "$setup" && exec timeout 20 "$tool" "$@") </dev/null >"$tmp/out" 2>"$tmp/err"
    check "$name: status" "$status" "$?"
    # shellcheck disable=SC2053
    [[ "$(cat "$tmp/err")" == $pattern ]] || { echo "FAIL: $name: stderr [$(cat "$tmp/err")]"; fails=$((fails + 1)); }
    (cd "$dir" && eval "$after") || { echo "FAIL: $name: after the call, not true: $after"; fails=$((fails + 1)); }
}
"$tool" encipher --key k --mode cfb --iv 12345678 "$tmp/plain" "$tmp/ref.cfb" || exit 2
kept='cmp -s X X.orig'                                        # the input is untouched
cfb=(--key k --mode cfb --iv 12345678)
same='velkor-crypt: output * is the input file *; nothing was written'
usage='velkor-crypt: *usage: velkor-crypt*'
back='"$tool" decipher "${cfb[@]}" out back && cmp -s back X.orig' # out deciphers to plain

# 1. An output that is the input file is refused before anything is written.
row "same path"          ''               1 "$same" "$kept" encipher --key k X X
row "same path as ./X"   ''               1 'velkor-crypt: output ./X is the input file X; nothing was written' \
                                                     "$kept" encipher --key k X ./X
row "symlink to input"   'ln -s X link'   1 "$same" "$kept" encipher --key k X link
row "input by symlink"   'ln -s X link'   1 "$same" "$kept" decipher "${cfb[@]}" link X
row "hard link"          'ln X hard'      1 "$same" "$kept" encipher "${cfb[@]}" X hard
row "other file"         'ln -s X link'   0 ''      "$kept && cmp -s out ref.cfb" encipher "${cfb[@]}" link out
row "stdout is the input" 'exec >>X'      1 'velkor-crypt: output standard output is the input file X; nothing was written' \
                                                     "$kept" encipher "${cfb[@]}" X -
# A block device by device and inode too (root can make a loop device).
head -c 65536 /dev/urandom >"$tmp/disk" && cp "$tmp/disk" "$tmp/disk.orig"
if loopdev="$(losetup -f --show "$tmp/disk" 2>/dev/null)"; then
    row "block device"   ''               1 "$same" 'cmp -s "$loopdev" "$tmp/disk.orig"' encipher --key k "$loopdev" "$loopdev"
    row "block device by link" 'ln -s "$loopdev" dev' 1 "$same" 'cmp -s "$loopdev" "$tmp/disk.orig"' encipher --key k dev "$loopdev"
else
    echo "skipped: no loop device could be made here (needs root and the loop driver)"
fi
# 2. Deciphering a chained mode needs the vector; ECB takes none.
row "decipher cbc no IV" ''               2 'velkor-crypt: decipher needs the --iv printed when the file was enciphered*' \
                                                     '[ ! -e out ]' decipher --key k --mode cbc X out
row "decipher cfb no IV" ''               2 'velkor-crypt: decipher needs the --iv printed when the file was enciphered*' \
                                                     '[ ! -e out ]' decipher --key k --mode cfb X out
row "ECB with an IV"     ''               2 'velkor-crypt: ECB takes no --iv*' '[ ! -e out ]' encipher --key k --iv 12345678 X out
row "decipher ECB IV"    ''               2 'velkor-crypt: ECB takes no --iv*' '[ ! -e out ]' decipher --key k --mode ecb --iv 12345678 X out
# 3. The input is only read: pipes, FIFOs and read-only files are inputs.
row "FIFO input"         'mkfifo f; cat X >f &' 0 '' "$back" encipher "${cfb[@]}" f out
row "/dev/stdin pipe"    'exec < <(cat X)' 0 ''     "$back" encipher "${cfb[@]}" /dev/stdin out
# A pipe that delivers in pieces, with pauses: a short read is not the end of the input.
row "pipe in pieces"     'exec < <(head -c 3000 X; sleep 0.3; tail -c +3001 X | head -c 5000; sleep 0.3; tail -c +8001 X)' \
                                          0 ''      "$back" encipher "${cfb[@]}" /dev/stdin out
# "-" is standard input and output; "--" ends the options.
row "- in and out"       'exec <X'        0 ''      'cmp -s "$tmp/out" ref.cfb && [ ! -e ./- ]' encipher "${cfb[@]}" - -
row "-- before paths"    'cp X ./--in'    0 ''      "$back" encipher "${cfb[@]}" -- --in out
# The IV is printed before the output is written: a reader that goes away still has it.
row "IV before output"   'exec > >(head -c 1 >/dev/null)' 141 'IV: ????????' true encipher --key k --mode cfb /dev/zero -
# The key from a file's first line or from VELKOR_KEY; an empty key is no key.
row "key file"           'printf "k\r\nnot the key\n" >kf' 0 '' "cmp -s out ref.cfb" encipher --key-file kf --mode cfb --iv 12345678 X out
row "key in VELKOR_KEY"  'export VELKOR_KEY=k' 0 '' "cmp -s out ref.cfb" encipher --mode cfb --iv 12345678 X out
row "empty key"          ''               2 'velkor-crypt: the key (--key) is empty*' '[ ! -e out ]' encipher --key "" X out
row "empty key file"     ': >kf'          2 'velkor-crypt: the key (the first line of kf) is empty*' '[ ! -e out ]' encipher --key-file kf X out
row "long IV"            ''               2 'velkor-crypt: --iv takes 8 characters*' '[ ! -e out ]' decipher --key k --mode cfb --iv 123456789 X out
# Root may write a file of mode 444; an immutable file (where the file system has them) it may not.
row "read-only file"     'chmod 444 X && { chattr +i X 2>/dev/null || true; }' 0 '' \
                                                     "{ chattr -i X 2>/dev/null; true; } && $back" encipher "${cfb[@]}" X out
row "kernel read-only"   ''               0 ''      '"$tool" decipher "${cfb[@]}" out back && [ "$(cat back)" = "$(cat /proc/version)" ]' \
                                                     encipher "${cfb[@]}" /proc/version out
# 6. Errors name the file that failed; a failed input creates no output.
row "missing input"      ''               1 'velkor-crypt: absent: No such file or directory' '[ ! -e out ]' encipher --key k absent out
row "input is a folder"  'mkdir d'        1 'velkor-crypt: d: Is a directory' '[ ! -e out ]' encipher --key k d out
row "link loop"          'ln -s loop loop' 1 'velkor-crypt: loop: Too many levels of symbolic links' '[ ! -e out ]' encipher --key k loop out
row "output in no folder" ''              1 'velkor-crypt: no/dir/out: *' "$kept" encipher --key k X no/dir/out
row "output is a folder" 'mkdir d'        1 'velkor-crypt: d: Is a directory' "$kept" encipher --key k X d
row "disk full"          ''               1 'velkor-crypt: /dev/full: No space left on device' "$kept" encipher --key k X /dev/full
# A write that fails halfway keeps every byte written before it: a file size limit of
# 6 KiB stops a 10001-byte output at 6144 bytes, the start of the whole cipher.
row "file size limit"    'ulimit -f 6; trap "" XFSZ' 1 'velkor-crypt: out: File too large' \
                                                     '[ "$(wc -c <out)" = 6144 ] && cmp -s -n 6144 out ref.cfb' \
                                                     encipher "${cfb[@]}" X out
# Exit status 2 and the usage line for every bad call.
row "no key"             ''               2 "$usage" "$kept" encipher X out
row "no output"          ''               2 "$usage" "$kept" encipher --key k X
row "unknown mode"       ''               2 "$usage" "$kept" encipher --key k --mode xts X out
row "short IV"           ''               2 "$usage" "$kept" decipher --key k --mode cbc --iv short X out
row "unknown command"    ''               2 "$usage" "$kept" frobnicate

echo "$fails failed"
[ "$fails" -eq 0 ]
