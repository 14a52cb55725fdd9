#!/usr/bin/env bash
# Builds the Windows release dist/velkor-VERSION-win64.zip: velkor.exe, velkor-crypt.exe,
# README-windows.txt, the mIRC script velkor.mrc and SHA256SUMS. The version is the
# project's (top-level CMakeLists.txt).
# Reproducible: the same commit gives the same bytes (no link time in the executables, no
# build paths, entries sorted, every time stamp the commit's time).
#
# usage: scripts/release.sh [--build DIR] [--no-build] [--dist DIR]
#   --build DIR  Windows build folder (default build/release, configured for Release here)
#   --no-build   package what DIR already holds, without configuring or building
#   --dist DIR   folder for the zip (default dist)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build="build/release"
dist="dist"
do_build=1
while (($#)); do
    case "$1" in
    --build) build="$2"; shift 2 ;;
    --no-build) do_build=0; shift ;;
    --dist) dist="$2"; shift 2 ;;
    *) echo "usage: scripts/release.sh [--build DIR] [--no-build] [--dist DIR]" >&2; exit 2 ;;
    esac
done

export TZ=UTC LC_ALL=C
# The commit's time; zip cannot hold dates before 1980.
epoch="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)}"
((epoch >= 315532800)) || epoch=315532800
export SOURCE_DATE_EPOCH="$epoch"

if ((do_build)); then
    bash scripts/deps.sh
    cmake --preset windows -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j"${VELKOR_JOBS:-2}" --target velkor velkor-crypt
fi
version="$(cat "$build/velkor-version.txt")"
zip_name="velkor-$version-win64.zip"

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
# No debug information or symbol tables in what users download. strip writes a link time
# into the PE header again: SOURCE_DATE_EPOCH, the commit's time.
x86_64-w64-mingw32-strip --strip-all -o "$stage/velkor.exe" "$build/app/velkor.exe"
x86_64-w64-mingw32-strip --strip-all -o "$stage/velkor-crypt.exe" "$build/tools/velkor-crypt/velkor-crypt.exe"
# Notepad wants CR LF.
sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' docs/README-windows.txt >"$stage/README-windows.txt"
sed -e 's/$/\r/' docs/velkor.mrc >"$stage/velkor.mrc"
files=(README-windows.txt velkor-crypt.exe velkor.exe velkor.mrc)
(cd "$stage" && sha256sum "${files[@]}" >SHA256SUMS)
files=(README-windows.txt SHA256SUMS velkor-crypt.exe velkor.exe velkor.mrc)
chmod 644 "$stage"/*
touch -d "@$epoch" "$stage"/*

mkdir -p "$dist"
out="$(cd "$dist" && pwd)/$zip_name"
rm -f "$out"
# -X: no extra fields (owner ids, extended time stamps); -D: no folder entries.
(cd "$stage" && zip -q -X -D -9 "$out" "${files[@]}")
touch -d "@$epoch" "$out"
echo "$dist/$zip_name"
sha256sum "$out" | cut -d' ' -f1
