#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_device_protocol (fuzz/corpus/fuzz_device_protocol/).

An input is two option bytes and the device's byte stream, echoes included,
with the escape codes of serial/memory/MemoryPort.h (see fuzz_device_protocol.cpp for
the option bits). Each seed is written here as the conversation it plays:
the link monitor's ticks before the Update click, the job, the ticks after.
Run it again after changing the image of the target or the option bits.
"""

import os
import sys

ESCAPE = 0xE0
PAUSE = bytes([ESCAPE, 0x01])
HANG_UP = bytes([ESCAPE, 0x02])
PURGE_FAILS = bytes([ESCAPE, 0x03])
OPEN_FAILS = bytes([ESCAPE, 0x04])
WRITE_FAILS = bytes([ESCAPE, 0x05])

# The image of the target: records of 5, 19 and 255 bytes.
RECORDS = [
    bytes([0x00, 0x03, 0x11, 0x13, 0x1A]),
    bytes([0x00, 0x11, 0x11, 0x13, 0x1A, 0xD6, 0xD7, 0xD8, 0x12, 0x26, 0xE0, 0x0D, 0x0A,
           0x00, 0xFF, 0x11, 0x13, 0x1A, 0x7F]),
    bytes([0x00, 0xFD]) + bytes((i * 7 + 3) & 0xFF for i in range(0xFD)),
]

BRENIX, OLMAR = 0, 1
NOTHING, ESCAPE_KEY, COMMAND, PAINT_AND_TICK = range(4)
CMD_UPDATE, CMD_BRENIX, CMD_OLMAR, CMD_OK = range(4)


def data(raw):
    """Device bytes as they stand in the stream."""
    return bytes(raw).replace(bytes([ESCAPE]), bytes([ESCAPE, 0x00]))


def options(model, before, after, during=NOTHING, failed_opens=0, command=CMD_UPDATE):
    assert 1 <= before <= 8 and 1 <= after <= 4
    b0 = model | (before - 1) << 1 | (after - 1) << 4 | during << 6
    b1 = failed_opens | command << 2
    return bytes([b0, b1])


def probe(model):
    """A probe answered."""
    return data([0xD5, 0x26]) if model == BRENIX else data([0xD4, 0xD6, 0x00])


def version(v2, v3, v5):
    return data([0xD7, 0x00, 0x00, v2, v3, 0x00, v5, 0x00])


def link_up(model):
    """Ticks 1 and 2: the port opens, then the device answers with its version."""
    if model == BRENIX:
        return probe(model) + version(0x01, 0x2A, 0x07)
    return probe(model) + version(0xC1, 0x05, 0x0C)


def handshake(model):
    if model == OLMAR:
        return data([0xD6, 0xD7])
    silent_phase = (data([0xD6]) + PAUSE) * 4
    return silent_phase + data([0xD7, 0xD8]) + silent_phase + data([0xD6, 0xD7])


def record(i, verdict=0x11):
    return data(RECORDS[i]) + data([verdict])


def transfer():
    return b"".join(record(i) for i in range(len(RECORDS)))


def after_success(model):
    """The tick after an update: probe, then the version read again."""
    if model == BRENIX:
        return probe(model) + version(0x01, 0x30, 0x02)
    return probe(model) + version(0xC1, 0x06, 0x00)


SEEDS = {}

for m, name in ((BRENIX, "brenix"), (OLMAR, "olmar")):
    SEEDS[f"{name}_happy"] = (options(m, 2, 2) + link_up(m) + handshake(m) + transfer() +
                              after_success(m) + probe(m))
    # Three other verdicts, then 0x11: four sends of the first record; the
    # second record's verdict comes on the sixth read.
    SEEDS[f"{name}_resend"] = (options(m, 2, 1) + link_up(m) + handshake(m) +
                               record(0, 0x00) + record(0, 0x13) + record(0, 0xD7) + record(0) +
                               data(RECORDS[1]) + PAUSE * 5 + data([0x11]) + record(2) +
                               after_success(m))
    SEEDS[f"{name}_crc_error"] = (options(m, 2, 2) + link_up(m) + handshake(m) + record(0) +
                                  record(1, 0x12) + probe(m))
    # The adapter goes away in the middle of the long record's echo.
    SEEDS[f"{name}_hang_up_mid_record"] = (options(m, 2, 2) + link_up(m) + handshake(m) +
                                           record(0) + record(1) + data(RECORDS[2][:100]) +
                                           HANG_UP)
    SEEDS[f"{name}_four_resends"] = (options(m, 2, 1) + link_up(m) + handshake(m) +
                                     record(0) + record(1, 0x00) * 4)
    SEEDS[f"{name}_no_verdict"] = (options(m, 2, 2) + link_up(m) + handshake(m) +
                                   data(RECORDS[0]) + PAUSE * 6 + probe(m))
    SEEDS[f"{name}_purge_fails"] = options(m, 2, 2) + link_up(m) + PURGE_FAILS
    # The adapter echoes the probes, the device stays silent.
    SEEDS[f"{name}_silent_device"] = (options(m, 3, 1) +
                                      (data([0xD5 if m == BRENIX else 0xD4]) + PAUSE) * 2)
    SEEDS[f"{name}_escape_during_job"] = (options(m, 2, 1, ESCAPE_KEY) + link_up(m) +
                                          handshake(m) + transfer())
    SEEDS[f"{name}_model_click_during_job"] = (
        options(m, 2, 2, COMMAND, command=CMD_OLMAR if m == BRENIX else CMD_BRENIX) +
        link_up(m) + handshake(m) + record(0) + record(1) + WRITE_FAILS + probe(m))

SEEDS["olmar_handshake_silent"] = (options(OLMAR, 2, 2) + link_up(OLMAR) +
                                   (data([0xD6]) + PAUSE) * 4 + probe(OLMAR))
# The reply to 0xD7 missing, the echo 0xD8 passes the phase all the same.
SEEDS["brenix_step2_by_echo"] = (options(BRENIX, 2, 1) + link_up(BRENIX) +
                                 (data([0xD6]) + PAUSE) * 4 + data([0xD8]) + PAUSE +
                                 (data([0xD6]) + PAUSE) * 4 + data([0xD6, 0xD7]) + transfer())
SEEDS["brenix_phase3_hang_up"] = (options(BRENIX, 2, 2) + link_up(BRENIX) +
                                  (data([0xD6]) + PAUSE) * 4 + data([0xD7, 0xD8]) +
                                  data([0xD6]) + PAUSE + data([0xD6]) + HANG_UP)
SEEDS["olmar_opens_fail"] = (options(OLMAR, 5, 1, PAINT_AND_TICK, failed_opens=3) +
                             link_up(OLMAR) + handshake(OLMAR) + transfer())
SEEDS["olmar_bd_probe_ok_close"] = (options(OLMAR, 3, 1, COMMAND, command=CMD_OK) +
                                    data([0xD4, 0xBD, 0x42]) + version(0xFF, 0xFF, 0xFF) +
                                    data([0xD4, 0xBD, 0x00]) + handshake(OLMAR) + transfer())
SEEDS["brenix_refused_then_up"] = (options(BRENIX, 4, 2) + data([0xD5, 0x27]) +
                                   data([0xD5, 0x26, 0xD7]) + PAUSE + link_up(BRENIX) +
                                   OPEN_FAILS)
SEEDS["olmar_state1_click"] = options(OLMAR, 2, 1) + data([0xD4, 0x00, 0x00])


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "fuzz_device_protocol")
    os.makedirs(out, exist_ok=True)
    for name, seed in sorted(SEEDS.items()):
        with open(os.path.join(out, name), "wb") as f:
            f.write(seed)
    print(f"{len(SEEDS)} seeds in {out}", file=sys.stderr)


if __name__ == "__main__":
    main()
