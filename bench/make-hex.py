#!/usr/bin/env python3
"""Writes an Intel HEX file of pseudo-random data: make-hex.py OUT BYTES_PER_RECORD TOTAL_BYTES BASE"""
import random
import sys


def record(count, address, rtype, data):
    body = bytes([count, address >> 8, address & 0xFF, rtype]) + data
    return ":" + body.hex().upper() + "%02X" % (-sum(body) & 0xFF) + "\n"


def main():
    out, per_record, total, base = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4], 0)
    rng = random.Random(470)
    data = rng.randbytes(total)
    upper = None
    with open(out, "w") as f:
        for offset in range(0, total, per_record):
            address = base + offset
            if address >> 16 != upper:
                upper = address >> 16
                f.write(record(2, 0, 4, upper.to_bytes(2, "big")))
            f.write(record(len(data[offset:offset + per_record]), address & 0xFFFF, 0,
                           data[offset:offset + per_record]))
        f.write(record(0, 0, 1, b""))


main()
