#!/usr/bin/env bash
# The Windows release as a user gets it: scripts/release.sh packages this build twice (the
# same bytes both times), the zip holds exactly its five files with good checksums, and
# unpacked into a clean Wine prefix velkor.exe and velkor-crypt.exe run from there and
# report the project's version. Run inside an X display.
# usage: test_release.sh WIN_BUILD_DIR RELEASE_PROBE_EXE
set -euo pipefail
build="$(cd "$1" && pwd)"
probe="$2"
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d /tmp/velkor-release.XXXXXX)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
cleanup() {
    bash "$root/scripts/wine-prefix.sh" kill "$WINEPREFIX" || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

version="$(cat "$build/velkor-version.txt")"
# Boot the clean prefix while the zip is made.
bash "$root/scripts/wine-prefix.sh" boot "$WINEPREFIX" &
boot=$!

zips=()
for n in 1 2; do
    out="$(bash "$root/scripts/release.sh" --no-build --build "$build" --dist "$work/dist$n")"
    zips+=("$work/dist$n/velkor-$version-win64.zip")
    [ "$(head -1 <<<"$out")" = "$work/dist$n/velkor-$version-win64.zip" ] || fail "release.sh said: $out"
done
cmp "${zips[0]}" "${zips[1]}" || fail "two runs gave different zips"
zip="${zips[0]}"
echo "zip $(basename "$zip") $(sha256sum "$zip" | cut -d' ' -f1)"

# Exactly the five files, in this order, all with the same time stamp.
names="$(unzip -Z1 "$zip" | tr '\n' ' ')"
[ "$names" = "README-windows.txt SHA256SUMS velkor-crypt.exe velkor.exe velkor.mrc " ] || fail "entries: $names"
stamps="$(unzip -Z -T "$zip" | awk '$1 ~ /^-/ {print $7}' | sort -u | wc -l)"
[ "$stamps" = 1 ] || fail "entries carry different time stamps"

wait "$boot" || fail "the Wine prefix did not boot"
dest="$WINEPREFIX/drive_c/velkor"
mkdir -p "$dest"
unzip -q "$zip" -d "$dest"
(cd "$dest" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
grep -q '^on \$1:TEXT:/\^\[0-2\]'.*$'\r'"$" "$dest/velkor.mrc" || fail "velkor.mrc: no wire-text event in CR LF"
grep -q "^velkor $version for Windows"$'\r'"$" "$dest/README-windows.txt" || fail "README-windows.txt: no version title in CR LF"
# Stripping kept what ASLR and DEP need.
for exe in velkor.exe velkor-crypt.exe; do
    headers="$(x86_64-w64-mingw32-objdump -p -h "$dest/$exe")"
    for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT '\.reloc'; do
        grep -qw "$flag" <<<"$headers" || fail "$exe lost $flag"
    done
done

# velkor-crypt.exe from the unpacked folder: a line there and back, accents and euro included.
# Through standard input: the bytes stay code page 1252 bytes.
crypt() { "$root/scripts/wine-start" 'C:\velkor\velkor-crypt.exe' "$@" --key lantern | tr -d '\r'; }
line="$(printf 'caf\xe9 20 \x80')"
wire="$(printf '%s\n' "$line" | crypt encode-line)"
wire_shape='^1[!-`]+$'
[[ "$wire" =~ $wire_shape ]] || fail "velkor-crypt.exe encode-line gave '$wire'"
back="$(printf '%s\n' "$wire" | crypt decode-line)"
[ "$back" = "$line" ] || fail "velkor-crypt.exe decode-line gave '$back'"
said="$("$root/scripts/wine-start" 'C:\velkor\velkor-crypt.exe' --version | tr -d '\r')"
[ "$said" = "velkor-crypt $version" ] || fail "velkor-crypt.exe --version said '$said'"

# velkor.exe from the unpacked folder: its window, its About text and both version resources.
report="$("$root/scripts/wine-start" "$probe" 'C:\velkor\velkor.exe' 'C:\velkor\velkor-crypt.exe' | tr -d '\r')" ||
    fail "release_probe: $report"
echo "$report"
rc="$version.0"
grep -qx "resource velkor.exe $rc $rc $rc" <<<"$report" || fail "velkor.exe version resource"
grep -qx "resource velkor-crypt.exe $rc $rc $rc" <<<"$report" || fail "velkor-crypt.exe version resource"
grep -q "^about velkor $version, released " <<<"$report" || fail "About text version line"
echo "PASS: release $version unpacked and run in a clean prefix"
