#!/usr/bin/env bash
# The main job: build velkor-crypt and show a chat line going to the wire and back.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset native >/dev/null
cmake --build --preset native -j"${VELKOR_JOBS:-2}" --target velkor-crypt >/dev/null
tool=build/native/tools/velkor-crypt/velkor-crypt
key="${VELKOR_KEY:-our shared secret}"
line="${1:-hello from velkor, nobody else can read this}"

echo "key:       $key"
echo "line:      $line"
wire="$("$tool" encode-line --key "$key" "$line")"
echo "wire text: $wire"
echo "back:      $("$tool" decode-line --key "$key" "$wire")"
echo "wrong key: $("$tool" decode-line --key "not the key" "$wire" | od -An -c | head -2 | tr -s ' ')"

sample="$(mktemp -d)"
trap 'rm -rf "$sample"' EXIT
printf 'A file for the cipher component: CBC mode, generated IV.\n' >"$sample/plain.txt"
"$tool" encipher --key "$key" --mode cbc "$sample/plain.txt" "$sample/cipher.bin" 2>"$sample/iv.txt"
iv="$(sed -n 's/^IV: //p' "$sample/iv.txt")"
"$tool" decipher --key "$key" --mode cbc --iv "$iv" "$sample/cipher.bin" "$sample/back.txt"
echo "file:      $(wc -c <"$sample/plain.txt") bytes -> $(wc -c <"$sample/cipher.bin") cipher bytes (IV $iv) -> $(tr -d '\0' <"$sample/back.txt")"
