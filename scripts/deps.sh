#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when any is missing.
set -euo pipefail
packages=(cmake g++ make googletest libgtest-dev libgmock-dev libgcrypt20-dev libbenchmark-dev libbotan-2-dev libcrypto++-dev
          clang clang-format libclang-rt-14-dev
          g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 xvfb xauth x11-apps imagemagick ngircd python3
          weechat-headless weechat-dev znc znc-dev zip unzip qemu-user)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq || echo "apt-get update reported errors; going on with the indexes it has"
    $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Wine's 32-bit side runs the 32-bit peer, as mIRC is 32-bit. Best effort: where the i386
# indexes lag the amd64 ones (a mirror mid-sync), the release's own versions are asked for;
# if even that fails, the 32-bit row is skipped and says so.
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    release="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
    $SUDO dpkg --add-architecture i386
    $SUDO apt-get update -qq || echo "apt-get update reported errors; going on with the indexes it has"
    # --no-remove: never buy the 32-bit side with the 64-bit Wine the tests need.
    $SUDO apt-get install -y -qq --no-remove wine32:i386 >/dev/null 2>&1 ||
        $SUDO apt-get install -y -qq --no-remove ${release:+-t "$release"} --no-install-recommends \
            wine64 libwine:amd64 wine32:i386 libwine:i386 >/dev/null ||
        echo "wine32 could not be installed: the 32-bit peer row will be skipped"
fi
