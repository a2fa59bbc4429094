#!/usr/bin/env python3
"""Writes the sample update files of the demo into samples/.

Usage:
    python3 tools/make_samples.py            # (re)write samples/
    python3 tools/make_samples.py --check    # exit 1 if samples/ is not what
                                             # this script writes
    python3 tools/make_samples.py OUTDIR     # write elsewhere

Needs Python 3 and nothing beyond its standard library. The output is the
same on every run and every machine; the files are committed.

Format. An update file is one unbroken run of upper-case hexadecimal digit
pairs, one pair per byte, with no line break. The bytes are a chain of
records: a two-byte length L, high byte first, then L bytes of body. Every
record here has L at most 253, so it crosses the wire in one write.

Record check (the one the demo device, sim/DemoDevice.h, applies): the last
two bytes of each body are the CRC-16/CCITT-FALSE (polynomial 0x1021, initial
value 0xFFFF, no reflection, no final XOR) of all the record's bytes before
them, length header included, high byte first. The device answers 0x12 (CRC
error) to a record whose check does not match, 0x11 to any other.

Version: the first seven body bytes of the first record are the version
reply the firmware gives once installed, the next two the number of records
in the file, high byte first; the demo device answers with the version after
an update in which that many records passed their check, and none failed.

Files:
    olmar-demo.pkc     "OLMAR I": 16 records of 255 bytes, version P1.06.00;
                       about 2 s at 19200 baud
    brenix-demo.kyc    "BRENIX": 12 records of 64 bytes, version 01.30.02;
                       about 7 s at 1200 baud
    brenix-full-size.kyc  "BRENIX": 4 records of 255 bytes, the largest a
                       record can be, version 01.31.00; about 9 s at 1200
                       baud, 2.1 s a record
    olmar-bad-crc.pkc  as olmar-demo.pkc, but record 6 of 16 carries a wrong
                       check: "Update Error: Data transfer crc error!" at 31%
    brenix-bad-crc.kyc as brenix-demo.kyc, but record 4 of 12 carries a wrong
                       check: the same message at 25%
"""

import hashlib
import os
import sys

HEADER_SIZE = 2
CHECK_SIZE = 2
VERSION_SIZE = 7
COUNT_SIZE = 2


def crc16_ccitt_false(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else (crc << 1)
            crc &= 0xFFFF
    return crc


assert crc16_ccitt_false(b"123456789") == 0x29B1  # the algorithm's check value


def payload(seed, size):
    """Deterministic filler bytes that look like code."""
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(("%s:%d" % (seed, counter)).encode("ascii")).digest()
        counter += 1
    return bytes(out[:size])


def record(body_without_check, corrupt=False):
    length = len(body_without_check) + CHECK_SIZE
    assert 2 <= length <= 253
    head = bytes([length >> 8, length & 0xFF]) + body_without_check
    check = crc16_ccitt_false(head)
    if corrupt:
        check ^= 0xFFFF
    return head + bytes([check >> 8, check & 0xFF])


def image(seed, records, record_size, version, bad_record=None):
    """`records` records of `record_size` bytes each (header and check
    included); the first body starts with the 7 version bytes and the record
    count. `bad_record` (0-based) gets a wrong check."""
    body_size = record_size - HEADER_SIZE - CHECK_SIZE
    data = payload(seed, records * body_size - VERSION_SIZE - COUNT_SIZE)
    data = bytes(version) + bytes([records >> 8, records & 0xFF]) + data
    out = bytearray()
    for i in range(records):
        out += record(data[i * body_size:(i + 1) * body_size], corrupt=(i == bad_record))
    return bytes(out)


def hex_text(data):
    return data.hex().upper().encode("ascii")


# Version replies: bytes 2, 3 and 5 are shown.
BRENIX_VERSION = [0x00, 0x00, 0x01, 0x30, 0x00, 0x02, 0x00]  # 01.30.02
BRENIX_FULL_SIZE_VERSION = [0x00, 0x00, 0x01, 0x31, 0x00, 0x00, 0x00]  # 01.31.00
OLMAR_VERSION = [0x00, 0x00, 0xC1, 0x06, 0x00, 0x00, 0x00]   # P1.06.00 (0xC1 + 64 = 0x101)

SAMPLES = {
    "olmar-demo.pkc": lambda: image("olmar", 16, 255, OLMAR_VERSION),
    "brenix-demo.kyc": lambda: image("brenix", 12, 64, BRENIX_VERSION),
    "brenix-full-size.kyc": lambda: image("brenix-full-size", 4, 255, BRENIX_FULL_SIZE_VERSION),
    "olmar-bad-crc.pkc": lambda: image("olmar", 16, 255, OLMAR_VERSION, bad_record=5),
    "brenix-bad-crc.kyc": lambda: image("brenix", 12, 64, BRENIX_VERSION, bad_record=3),
}


def main(argv):
    check = "--check" in argv
    args = [a for a in argv if a != "--check"]
    if len(args) > 1:
        sys.stderr.write(__doc__)
        return 2
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out_dir = args[0] if args else os.path.join(root, "samples")
    stale = []
    if not check:
        os.makedirs(out_dir, exist_ok=True)
    for name, make in sorted(SAMPLES.items()):
        path = os.path.join(out_dir, name)
        text = hex_text(make())
        if check:
            try:
                with open(path, "rb") as f:
                    if f.read() != text:
                        stale.append(name)
            except OSError:
                stale.append(name)
        else:
            with open(path, "wb") as f:
                f.write(text)
    if stale:
        sys.stderr.write("not as tools/make_samples.py writes them: %s\n" % ", ".join(stale))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
