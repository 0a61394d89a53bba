#!/usr/bin/env bash
# fwupdate-cli image convert, as a firmware engineer runs it: the carried main image, rendered by another writer
# as Intel HEX (CR LF) and as S3 records (32-byte records, erased runs left out, addresses from 0xFFF80000),
# converts back to a file identical to it; a damaged file and a wrong command line are refused with status 2.
#   image_convert.sh <fwupdate-cli> <main.bin> <work dir>
set -u
cli=$1 image=$2 work=$3
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
python3 - "$image" <<'PY'
import sys
data, base = open(sys.argv[1], "rb").read(), 0xFFF80000
runs, i = [], 0
while i < len(data):
    if data[i] == 0xFF:
        i += 1
        continue
    j = i + 1
    while j < len(data) and j - i < 32 and (base + j) % 0x10000 and data[j:j + 8] != b"\xff" * 8:
        j += 1
    runs.append((base + i, data[i:j]))
    i = j
def ihex(body):
    return ":" + (body + bytes([-sum(body) & 0xFF])).hex().upper()
def srec(kind, address, payload=b""):
    body = bytes([4 + len(payload) + 1]) + address.to_bytes(4, "big") + payload
    return "S%d" % kind + (body + bytes([~sum(body) & 0xFF])).hex().upper()
hexlines, upper = [], None
for address, payload in runs:
    if address >> 16 != upper:
        upper = address >> 16
        hexlines.append(ihex(bytes([2, 0, 0, 4]) + upper.to_bytes(2, "big")))
    hexlines.append(ihex(bytes([len(payload)]) + (address & 0xFFFF).to_bytes(2, "big") + b"\x00" + payload))
open("main.hex", "w", newline="\r\n").write("\n".join(hexlines + [":00000001FF"]) + "\n")
open("main.mot", "w").write("\n".join([srec(3, a, p) for a, p in runs] + [srec(7, base)]) + "\n")
PY
status=0
fail() { echo "FAILED: $*"; status=1; }
for f in main.hex main.mot; do
  "$cli" image convert "$f" --main "$f.bin" || fail "image convert $f --main"
  cmp "$f.bin" "$image" && echo "$f converts to a file identical to $image" || fail "$f.bin differs"
done
sed '3s/^:20/:21/' main.hex >bad.hex
out=$("$cli" image convert bad.hex --main bad.bin 2>&1)
[ $? -eq 2 ] && grep -q "^bad.hex: line 3: " <<<"$out" && [ ! -e bad.bin ] || fail "damaged file: $out"
"$cli" image convert main.hex >/dev/null 2>&1
[ $? -eq 2 ] || fail "no --main or --second accepted"
exit $status
