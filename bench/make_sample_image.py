#!/usr/bin/env python3
"""Writes the bench's sample BIN image: 2048 bytes of our own, no header, byte k for address k.

The bytes are made to be recognised in the bench's hex view: every 256-byte block has its own
pattern, the factory record area (0xA0..0xAB) is left blank (0xFF) so that only "Write Product
ID" fills it, and a readable note sits near the end.

    python3 bench/make_sample_image.py [output]      (default: bench/sample/sample-2k.bin)
"""

import pathlib
import sys

IMAGE_SIZE = 2048
BLOCK_SIZE = 256
FACTORY_RECORD = range(0xA0, 0xAC)
NOTE_ADDRESS = 0x780
NOTE = b"VRAX BENCH SAMPLE IMAGE - TRAINING ONLY, NOT FOR PRODUCTION MICE."


def block_byte(address):
    block, offset = divmod(address, BLOCK_SIZE)
    if block == 0:
        # A settings table: little records of four bytes each.
        return (offset // 4 * 0x11 + offset % 4) & 0xFF
    if block == 5:
        # A ramp, the second area of the default custom ranges.
        return offset
    if block == 7:
        return 0x00
    return (offset * (2 * block + 1) + 0x35 * block) & 0xFF


def sample_image():
    image = bytearray(block_byte(address) for address in range(IMAGE_SIZE))
    for address in FACTORY_RECORD:
        image[address] = 0xFF
    image[NOTE_ADDRESS:NOTE_ADDRESS + len(NOTE)] = NOTE
    image[IMAGE_SIZE - 16:] = b"\xFF" * 16
    assert len(image) == IMAGE_SIZE
    return bytes(image)


def main(argv):
    default = pathlib.Path(__file__).resolve().parent / "sample" / "sample-2k.bin"
    output = pathlib.Path(argv[1]) if len(argv) > 1 else default
    output.parent.mkdir(parents=True, exist_ok=True)
    output.write_bytes(sample_image())
    print(output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
