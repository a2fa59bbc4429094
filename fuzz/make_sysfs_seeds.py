#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_sysfs_ports (fuzz/corpus/fuzz_sysfs_ports/).

The target reads its input through FuzzedDataProvider: numbers from the end
of the input, texts from the front. Each seed is written here as the choices
the tree builder makes, in the order it makes them; this script lays them out
as the provider reads them. Run it again after changing the tree builder,
and check a seed with QUORVEL_FUZZ_SHOW=1 build-fuzz/fuzz/fuzz_sysfs_ports <seed>.
"""

import os
import sys


class Input:
    def __init__(self):
        self.front = bytearray()  # texts, read from the start
        self.back = []            # numbers, read from the end

    def choose(self, lo, hi, value):
        """One ConsumeIntegralInRange(lo, hi) giving `value`."""
        assert lo <= value <= hi
        span = hi - lo
        nbytes = 0
        while span >> (8 * nbytes):
            nbytes += 1
        raw = (value - lo).to_bytes(max(nbytes, 1), "big")
        self.back.extend(raw[:nbytes] if nbytes else b"")
        return self

    def text(self, s):
        """One ConsumeRandomLengthString giving `s` (shorter than its limit)."""
        b = s.encode() if isinstance(s, str) else s
        self.front += b.replace(b"\\", b"\\\\") + b"\\;"
        return self

    def data(self):
        return bytes(self.front) + bytes(reversed(self.back))


# Choices of the tree builder (fuzz_sysfs_ports.cpp).
CLASS_DIR, NO_CLASS, CLASS_LOOP = 15, 0, 3
PREFIXES = {"ttyUSB": 0, "ttyACM": 1, "ttyS": 2, "ttyAMA": 3, "rfcomm": 4}
IDS = {"10c4": 0, "ea60": 1, "10C4": 2, "EA60": 3, "10c8": 4, "ea61": 5, "0001": 6}
USB_SERIAL, ACM, UART, UART_SERIAL_BASE, VIRTUAL, CLASS_DIRECTORY = 0, 2, 3, 4, 5, 6
DANGLING_CLASS_LINK, CLASS_FILE, ODD_CLASS_LINK = 7, 8, 9
NORMAL_LINK, DANGLING_LINK, LOOP_LINK, DIRECTORY_LINK = 8, 0, 3, 6


def kernel_name(i, prefix, number):
    i.choose(0, 7, 0).choose(0, 4, PREFIXES[prefix]).choose(0, 300, number)


def odd_name(i, chars):
    """A name of 1..16 characters from the builder's alphabet (ASCII here)."""
    i.choose(0, 7, 4).choose(1, 16, len(chars))
    for c in chars:
        i.choose(0, 255, ord(c) - 0x20)


def long_name(i, length):
    i.choose(0, 7, 6).choose(64, 255, length)
    for n in range(length):
        i.choose(0, 255, n % 26 + ord("a") - 0x20)


def usb(i, layout, bus, hops, attrs, driver=0, link=NORMAL_LINK):
    """attrs: five entries (idVendor, idProduct, manufacturer, product,
    serial), each None (absent), a text, or ("dir",) / ("dangling",); none
    when the device was already made by an earlier port."""
    i.choose(0, 9, layout).choose(1, 3, bus).choose(0, 2, len(hops))
    for h in hops:
        i.choose(1, 4, h)
    for n, a in enumerate(attrs or []):
        if a is None:
            i.choose(0, 11, 0)
        elif a == ("dir",):
            i.choose(0, 11, 8)
        elif a == ("dangling",):
            i.choose(0, 11, 9)
        elif n < 2:
            i.choose(0, 11, 2).choose(0, 11, IDS[a])
        else:
            i.choose(0, 11, 2).text(a)
    if layout != ACM:
        i.choose(0, 6, driver)
    i.choose(0, 15, link)


def uart(i, layout, type_mode, link=NORMAL_LINK):
    """type_mode: 0 "0", 2 "4", 4 a directory, 5 no file."""
    i.choose(0, 9, layout).choose(0, 5, type_mode).choose(0, 15, link)


def seeds():
    out = {}

    i = Input().choose(0, 15, CLASS_DIR).choose(0, 6, 1)
    kernel_name(i, "ttyUSB", 0)
    usb(i, USB_SERIAL, 1, [], ["10c4", "ea60", "Silicon Labs",
                               "CP2102 USB to UART Bridge Controller", "0001"])
    out["one_adapter"] = i

    i = Input().choose(0, 15, CLASS_DIR).choose(0, 6, 6)
    kernel_name(i, "ttyUSB", 10)
    usb(i, USB_SERIAL, 1, [4, 2], ["10C4", "EA60", "COM maker (x)", None, "A)COM"])
    kernel_name(i, "ttyUSB", 2)
    usb(i, USB_SERIAL, 2, [], ["10c8", "ea61", None, None, None], driver=2)
    kernel_name(i, "ttyACM", 0)
    usb(i, ACM, 3, [], ["0001", "0001", None, "Modem", ("dir",)])
    kernel_name(i, "ttyS", 0)
    uart(i, UART, 2)
    kernel_name(i, "ttyS", 1)
    uart(i, UART_SERIAL_BASE, 0)
    kernel_name(i, "ttyS", 2)
    i.choose(0, 9, VIRTUAL)
    out["mixed_machine"] = i

    i = Input().choose(0, 15, CLASS_DIR).choose(0, 6, 6)
    kernel_name(i, "ttyUSB", 1)
    usb(i, USB_SERIAL, 1, [], ["10c4", "ea60", ("dangling",), "P", "S"], link=DANGLING_LINK)
    kernel_name(i, "ttyUSB", 3)
    usb(i, USB_SERIAL, 1, [], None, link=LOOP_LINK)
    odd_name(i, "x (COM:y")
    i.choose(0, 9, ODD_CLASS_LINK).choose(0, 5, 5)
    odd_name(i, "tty#usb#&")
    i.choose(0, 9, DANGLING_CLASS_LINK)
    kernel_name(i, "ttyAMA", 0)
    uart(i, UART, 4, link=DIRECTORY_LINK)
    kernel_name(i, "rfcomm", 0)
    i.choose(0, 9, CLASS_FILE)
    out["odd_links"] = i

    i = Input().choose(0, 15, CLASS_DIR).choose(0, 6, 2)
    long_name(i, 200)
    usb(i, USB_SERIAL, 1, [], ["10c4", "ea60", None, None, "0123456789" * 4])
    kernel_name(i, "ttyUSB", 0)
    usb(i, USB_SERIAL, 1, [], None)
    out["long_name"] = i

    i = Input().choose(0, 15, CLASS_DIR).choose(0, 6, 1)
    kernel_name(i, "ttyUSB", 0)
    usb(i, USB_SERIAL, 1, [2, 3], ["10c4", "ea60", None, None, "0123456789" * 11])
    out["long_serial_behind_hubs"] = i

    out["no_class"] = Input().choose(0, 15, NO_CLASS).choose(0, 6, 0)
    i = Input().choose(0, 15, CLASS_LOOP).choose(0, 6, 1)
    kernel_name(i, "ttyS", 0)
    uart(i, UART, 2)
    out["class_loop"] = i
    return out


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "corpus", "fuzz_sysfs_ports")
    os.makedirs(target, exist_ok=True)
    for name, i in seeds().items():
        with open(os.path.join(target, name), "wb") as f:
            f.write(i.data())


if __name__ == "__main__":
    main()
