#!/usr/bin/env python3
"""Writes the FRU images of the board files beside this script (or, with
--check, says whether the committed ones are what it writes). Each image is an
inventory area: the common header, then the areas it points to, every area
with its version, length in multiples of 8 bytes, zero padding and zero-sum
checksum; multirecords with their 5-byte headers, the last one flagged.

  default-0.bin   the board: internal use, board (with the MAC as text),
                  product and multirecord areas
  default-1.bin   the mezzanine: board (6-bit packed and BCD-plus fields) and
                  product areas
  migrate-0.bin   a board still to migrate: its MAC, suffix and options as
                  binary custom fields of the board area
  migrate-1.bin   its mezzanine: an option byte in a binary custom field
  hostile-*.bin   inventory areas that break a reader (see HOSTILE)
"""
import argparse
import os
import sys

END = 0xC1           # end of a board or product area's fields
MFG_MINUTES = 12454560  # 2019-09-06 00:00, minutes since 1996-01-01
MANUFACTURER_ID = bytes([0xD9, 0x7E, 0x00])  # 32473, least significant byte first


def checksum(data):
    return (-sum(data)) & 0xFF


def text(value):
    """An 8-bit ASCII field."""
    return bytes([0xC0 | len(value)]) + value.encode("ascii")


def binary(value):
    return bytes([len(value)]) + bytes(value)


def packed6(value):
    """A 6-bit packed ASCII field: four characters in three bytes, the first
    in the low bits."""
    bits = 0
    for i, c in enumerate(value):
        bits |= (ord(c) - 0x20) << (6 * i)
    data = bits.to_bytes((6 * len(value) + 7) // 8, "little")
    return bytes([0x80 | len(data)]) + data


def bcd_plus(value):
    """A BCD-plus field of an even number of digits: two a byte, the first in
    the high nibble."""
    digits = ["0123456789 -.".index(c) for c in value]
    data = bytes(digits[i] << 4 | digits[i + 1] for i in range(0, len(digits), 2))
    return bytes([0x40 | len(data)]) + data


def area(head, fields):
    """An area: version 1, its length, `head`, the fields, the end marker,
    padding, checksum."""
    body = bytes([0x01, 0]) + head + b"".join(fields) + bytes([END])
    size = (len(body) + 1 + 7) // 8 * 8
    body = bytearray(body + bytes(size - len(body) - 1))
    body[1] = size // 8
    return bytes(body) + bytes([checksum(body)])


def board_area(manufacturer, product, serial, part, custom=()):
    return area(bytes([0x00]) + MFG_MINUTES.to_bytes(3, "little"),
                [manufacturer, product, serial, part, text("FRU-1.0"), *custom])


def product_area(name, part, serial):
    return area(bytes([0x00]), [text("Example Systems"), text(name), text(part), text("REV-B"),
                                text(serial), text("ASSET-0001"), text("FRU-1.0")])


def multirecords(records, end=True):
    """Records of (type, data), the last flagged end-of-list unless not `end`."""
    out = b""
    for i, (kind, data) in enumerate(records):
        flags = 0x02 | (0x80 if end and i == len(records) - 1 else 0)
        head = bytes([kind, flags, len(data), checksum(data)])
        out += head + bytes([checksum(head)]) + data
    return out + bytes(-len(out) % 8)


def image(internal=b"", board=b"", product=b"", multi=b""):
    """The common header and the areas given, in that order."""
    offsets, body, at = [], b"", 8
    for part in (internal, b"", board, product, multi):
        offsets.append(at // 8 if part else 0)
        body += part
        at += len(part)
    header = bytes([0x01] + offsets + [0])
    return header + bytes([checksum(header)]) + body


# A power supply: 300 W, input 90-264 V (10 mV units), 47-63 Hz, 20 ms
# dropout tolerance, hot swap, autoswitch and power factor correction.
POWER_SUPPLY = (0x00, bytes([0x2C, 0x01, 0x00, 0x00, 0x00, 0x00, 0x28, 0x23, 0x20, 0x67,
                             0x00, 0x00, 0x00, 0x00, 0x2F, 0x3F, 0x14, 0x1C, 0x00, 0x00,
                             0x00, 0x00, 0x00, 0x00]))
# 12 V DC output: nominal 12.00 V, 11.40-12.60 V, 50 mV ripple, 0-2500 mA.
DC_OUTPUT = (0x01, bytes([0x01, 0xB0, 0x04, 0x74, 0x04, 0xEC, 0x04, 0x32, 0x00, 0x00, 0x00,
                          0xC4, 0x09]))
OEM = (0xC0, MANUFACTURER_ID + bytes([0x01, 0x10, 0x20, 0x30]))

MEZZANINE_BOARD = board_area(text("Example Systems"), packed6("PMC MEZZ"), bcd_plus("20190614"),
                             packed6("PM-0200"))
MEZZANINE_PRODUCT = product_area("Mezzanine PMC", "PM-0200-01", "M0000001")
PRODUCT = product_area("PPC Service Board", "PB-1400-01", "S0000001")
INTERNAL = bytes([0x01]) + bytes(range(0x10, 0x1F))  # 16 bytes
BOARD_FIELDS = [text("Example Systems"), text("PPC Board"), text("B0000001"),
                text("PB-1400")]


def board_image(custom):
    return image(INTERNAL, board_area(*BOARD_FIELDS, custom), PRODUCT,
                 multirecords([POWER_SUPPLY, DC_OUTPUT, OEM]))


def hostile():
    good = board_area(*BOARD_FIELDS)
    # the product name's length says 40 bytes, and the area ends before
    over = bytearray(good)
    over[6 + len(BOARD_FIELDS[0])] = 0xC0 | 40
    over[-1] = 0
    over[-1] = checksum(over)
    zero = bytearray(good)  # the area's length byte says 0
    zero[1] = 0
    zero[-1] = 0
    zero[-1] = checksum(zero)
    huge = bytearray(good)  # 255 x 8 bytes, past the end of the image
    huge[1] = 0xFF
    bad_sum = bytearray(good)
    bad_sum[-1] ^= 0x5A
    # no end-of-list flag: the padding after the last record reads as empty records
    endless = multirecords([OEM, DC_OUTPUT], end=False)
    no_board = bytearray(image(board=good, product=PRODUCT))
    no_board[3] = 0  # the board area is there, the header points nowhere
    no_board[7] = 0
    no_board[7] = checksum(no_board[:7])
    return {
        "hostile-field-overrun.bin": image(board=bytes(over), product=PRODUCT),
        "hostile-zero-length.bin": image(board=bytes(zero), product=PRODUCT),
        "hostile-huge-length.bin": image(board=bytes(huge)),
        "hostile-endless-multirecord.bin": image(board=good, multi=bytes(endless)),
        "hostile-bad-checksum.bin": image(board=bytes(bad_sum), product=PRODUCT),
        "hostile-no-board-offset.bin": bytes(no_board),
    }


def images():
    mac_text = text("MAC=02:00:00:00:00:01/1")
    options = bytearray(32)
    options[0] = 0x05  # the board option byte
    options[2] = 1     # the mezzanine is fitted
    mezzanine_options = bytearray(16)
    mezzanine_options[0] = 0x03
    return {
        "default-0.bin": board_image([mac_text, text("REV=B")]),
        "default-1.bin": image(board=MEZZANINE_BOARD, product=MEZZANINE_PRODUCT),
        "migrate-0.bin": board_image([binary([0x02, 0x00, 0x00, 0x00, 0x10, 0x01, 0x03]),
                                      binary(options)]),
        "migrate-1.bin": image(board=board_area(text("Example Systems"), packed6("PMC MEZZ"),
                                                bcd_plus("20190615"), packed6("PM-0200"),
                                                [binary(mezzanine_options)]),
                               product=MEZZANINE_PRODUCT),
        **hostile(),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--check", action="store_true",
                        help="compare with the images beside the script, write nothing")
    args = parser.parse_args()
    here = os.path.dirname(os.path.abspath(__file__))
    differ = []
    for name, data in images().items():
        path = os.path.join(here, name)
        if args.check:
            with open(path, "rb") as f:
                if f.read() != data:
                    differ.append(name)
        else:
            with open(path, "wb") as f:
                f.write(data)
    for name in differ:
        print(f"{name} differs from what make_images.py writes: run it again")
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
