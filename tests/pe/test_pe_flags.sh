#!/usr/bin/env bash
# Proves each Windows executable was linked hardened: ASLR (dynamic base, with relocations
# to move by), high-entropy VA, DEP (NX compatible) and stack protection compiled in.
# usage: test_pe_flags.sh OBJDUMP NM EXE...
set -uo pipefail
objdump="$1"
nm="$2"
shift 2
fails=0
for exe in "$@"; do
    headers="$("$objdump" -p "$exe")"
    for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT; do
        grep -qw "$flag" <<<"$headers" || { echo "FAIL: $exe lacks $flag"; fails=$((fails + 1)); }
    done
    # A dynamic base without a relocation table cannot be moved: ASLR would be void.
    # (outputs are captured first: grep -q closing a pipe early would fail the pipeline)
    sections="$("$objdump" -h "$exe")"
    symbols="$("$nm" "$exe" 2>/dev/null)"
    grep -q '\.reloc' <<<"$sections" || { echo "FAIL: $exe has no .reloc section"; fails=$((fails + 1)); }
    grep -q '__stack_chk_fail' <<<"$symbols" ||
        { echo "FAIL: $exe was built without stack protection"; fails=$((fails + 1)); }
    echo "checked $exe"
done
echo "$fails failed"
[ "$fails" -eq 0 ]
