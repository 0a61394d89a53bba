#!/usr/bin/env python3
"""Makes the sample firmware images main.bin and second.bin, byte for byte the same on every run.

They look like a real controller's firmware: a header block with the product tag and the text pointers, code and
data regions, and erased (0xFF) space between them. The data is dense in 0x10, 0x02 and 0x03, the bytes that the
link escapes or uses as markers, so every update exercises DLE doubling.

    python3 update/images/make_images.py [output folder]
"""

import os
import sys

BLOCK = 256
MAIN_SIZE = 0x80000
SECOND_SIZE = 0x10000
MAIN_BASE = 0xFFF80000
TAG = b"KX42"
MODEL_NAME = b"KX42 MOTION CONTROLLER"
VERSION = b"0213"
MAIN_NONBLANK = 2048 - 1641
SECOND_NONBLANK = 256 - 177


class XorShift32:
    def __init__(self, seed):
        self.state = seed

    def next(self):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x


def fill_block(rng, image, block):
    """Varied data with the escaped and marker bytes frequent, and short erased runs as real code has."""
    start = block * BLOCK
    for i in range(BLOCK):
        r = rng.next()
        pick = r % 16
        if pick < 2:
            value = 0x10
        elif pick == 2:
            value = 0x02
        elif pick == 3:
            value = 0x03
        elif pick == 4:
            value = 0xFF
        else:
            value = (r >> 8) & 0xFF
        image[start + i] = value
    image[start] = 0x10  # never let a filled block come out all 0xFF by chance


def put_u32le(image, offset, value):
    image[offset:offset + 4] = value.to_bytes(4, "little")


def make_main(rng):
    image = bytearray(b"\xff" * MAIN_SIZE)
    # Vector and start-up code, the header block, the code region, two data tables.
    blocks = set(range(0, 8)) | {16} | set(range(32, 32 + 381)) | set(range(1280, 1280 + 16))
    for b in sorted(blocks):
        fill_block(rng, image, b)
    # Header block: product tag, text pointers and texts.
    header = 16 * BLOCK
    image[header:header + BLOCK] = b"\xff" * BLOCK
    image[0x1000:0x1004] = TAG
    name_offset, version_offset = 0x1020, 0x1040
    put_u32le(image, 0x1010, MAIN_BASE + name_offset)
    put_u32le(image, 0x1014, MAIN_BASE + version_offset)
    image[name_offset:name_offset + len(MODEL_NAME) + 1] = MODEL_NAME + b"\x00"
    image[version_offset:version_offset + len(VERSION) + 1] = VERSION + b"\x00"
    # The reset vector's last byte: a block whose only programmed byte is its last.
    image[MAIN_SIZE - 1] = 0x00
    blocks.add(2047)
    assert len(blocks) == MAIN_NONBLANK, len(blocks)
    return image


def make_second(rng):
    image = bytearray(b"\xff" * SECOND_SIZE)
    blocks = set(range(0, 72)) | set(range(128, 134))
    for b in sorted(blocks):
        fill_block(rng, image, b)
    image[0x1000:0x1004] = TAG  # block 16 is inside the first range
    image[200 * BLOCK + BLOCK - 1] = 0x5A
    blocks.add(200)
    assert len(blocks) == SECOND_NONBLANK, len(blocks)
    return image


def blank_blocks(image):
    return sum(1 for b in range(len(image) // BLOCK) if image[b * BLOCK:(b + 1) * BLOCK] == b"\xff" * BLOCK)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    rng = XorShift32(0x4B583432)
    main_image = make_main(rng)
    second_image = make_second(rng)
    assert blank_blocks(main_image) == 1641
    assert blank_blocks(second_image) == 177
    with open(os.path.join(out, "main.bin"), "wb") as f:
        f.write(main_image)
    with open(os.path.join(out, "second.bin"), "wb") as f:
        f.write(second_image)


if __name__ == "__main__":
    main()
