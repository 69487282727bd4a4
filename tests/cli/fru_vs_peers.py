#!/usr/bin/env python3
"""The library's FRU decoding, as hwboard reports it, against ipmitool's and
FreeIPMI's, field by field (hwboard_vs_peers.py runs it).

On the simulated board `hwboard --json fru N` reports what the library decodes
of a FRU device; `ipmitool -v fru print N` reads the device through the IPMC,
and `ipmi-fru -v --interpret-oem-data` reads the image itself (or its output
stored beside a real image is taken).

Compared: the board area's date, manufacturer, product name, serial and part
numbers, FRU file ID and custom fields; the product area's manufacturer,
name, part number, version, serial number, asset tag, FRU file ID and custom
fields; the multirecords as FreeIPMI lists them (kind, and the length of OEM
records); the MAC address of FRU 0 (`hwboard --json mac`) against its "MAC="
custom field.

Devices: FRU 0 and 1 of the default board and of migrate.toml, and every real
FRU image beside the repository as FRU 0. The library is the reference: where
a peer differs, the difference must be one named in DIFFERENCES, and is counted
there. Everything runs with TZ=UTC, so that the three dates are in the same zone.
"""
import datetime
import os
import re
import shutil
import subprocess

from sdr_boards import REAL_FRU, real_fru_board

# Where a peer and the library differ by design or on a broken image. The
# library keeps to its own behaviour; each entry's test says when it applies.
DIFFERENCES = {
    "bcd plus": "a BCD plus field: the library reads one character per byte from its low "
                "four bits; ipmitool unpacks two digits a byte, FreeIPMI rejects packed digits "
                "('FRU invalid BCD encoding')",
    "6-bit padding": "a 6-bit ASCII field: the library gives four characters for every "
                     "started group of three bytes, the padding included; FreeIPMI only the "
                     "characters whole bytes cover",
    "unspecified date": "a date of 0 minutes: ipmitool says 'Unspecified', the library and "
                        "FreeIPMI give 1996-01-01 00:00",
    "0 in text": "a text custom field holding a 0 byte: the library gives its bytes as "
                 "stored; FreeIPMI ends the text at the 0, ipmitool too and leaves it out when "
                 "nothing is left",
    "broken image": "frugy/opalkelly_default*.bin break the format on purpose (a multirecord "
                    "list without its end flag, a bad record checksum): the library keeps the "
                    "records before the fault, FreeIPMI reads on and reports errors",
    "ipmitool crash": "ipmitool -v dies (SIGSEGV) on frugy/opalkelly_default.bin's "
                      "multirecords; its output without -v is compared",
}

BOARD = (("manufacturer", "Board Mfg", "Board Manufacturer"),
         ("product_name", "Board Product", "Board Product Name"),
         ("serial_number", "Board Serial", "Board Serial Number"),
         ("part_number", "Board Part Number", "Board Part Number"),
         ("fru_file_id", "Board FRU ID", "FRU File ID"))
PRODUCT = (("manufacturer", "Product Manufacturer", "Product Manufacturer Name"),
           ("product_name", "Product Name", "Product Name"),
           ("part_number", "Product Part Number", "Product Part/Model Number"),
           ("version", "Product Version", "Product Version"),
           ("serial_number", "Product Serial", "Product Serial Number"),
           ("asset_tag", "Product Asset Tag", "Product Asset Tag"),
           ("fru_file_id", "Product FRU ID", "FRU File ID"))
# FreeIPMI's multirecord paragraphs by the words they begin with: the record type.
RECORD_KINDS = {"Power Supply": 0x00, "DC Output": 0x01, "DC Load": 0x02,
                "Management Access": 0x03, "Base Compatibility": 0x04,
                "Extended Compatibility": 0x05, "OEM": "oem"}
SIX_BIT = " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_"


def area_fields(image, area):
    """(type, bytes) of each field of the image's board or product area."""
    start = image[2 if area == "product" else 3] * 8
    if start == 0 or start + 1 >= len(image):
        return []
    at, end = start + (6 if area == "board" else 3), start + image[start + 1] * 8
    fields = []
    while at < min(end, len(image)) and image[at] != 0xC1:
        size = image[at] & 0x3F
        fields.append((image[at] >> 6, bytes(image[at + 1:at + 1 + size])))
        at += 1 + size
    return fields


def custom_text(type_length, data, hex_format):
    """A custom field as a peer shows it: text as it is, binary as hex."""
    kind = type_length >> 6
    if kind == 0:
        return hex_format(data)
    if kind == 2:
        bits = int.from_bytes(data, "little")
        return "".join(SIX_BIT[bits >> 6 * i & 0x3F] for i in range(len(data) * 8 // 6))
    return data.decode("latin-1")


def library(got):
    """hwboard's FRU report: "board" and "product": [result]; "board.FIELD":
    text; "board.custom": [(type/length, bytes)]; "multirecord": [result];
    "records": [(type, length)]."""
    lib = {"board.mfg_minutes": str(got["board"].get("mfg_minutes", 0)),
           "board.mfg_date": got["board"].get("mfg_date", ""),
           "multirecord": [str(got["multirecords"]["result"])],
           "records": [(r["type"], r["length"]) for r in got["multirecords"]["records"]]}
    for area, fields in (("board", BOARD), ("product", PRODUCT)):
        lib[area] = [str(got[area]["result"])]
        lib.update({f"{area}.{key}": got[area].get(key, "") for key, *_ in fields})
        lib[f"{area}.custom"] = [(c["type_length"], bytes.fromhex(c["hex"]))
                                 for c in got[area].get("custom", [])]
    return lib


def ipmitool(lines):
    """ipmitool's "Label : value" lines: {label: [values]}."""
    got = {}
    for line in lines:
        match = re.match(r"^ (\S.*?) *: (.*)$", line)
        if match:
            got.setdefault(match.group(1), []).append(match.group(2))
    return got


def freeipmi(text):
    """ipmi-fru's paragraphs: {area: {label: [values]}} for Board, Product and
    Chassis, and the multirecords as (kind, data bytes or None, errors)."""
    areas, records = {}, []
    for paragraph in text.split("\n\n")[1:]:
        lines = [line.lstrip() for line in paragraph.splitlines() if line.strip()]
        if not lines or not lines[0].startswith("FRU "):
            continue
        head = lines[0][4:]
        area = next((a for a in ("Board", "Product", "Chassis") if head.startswith(a)), None)
        if area:
            fields = areas.setdefault(area, {})
            for line in lines:
                label, _, value = line[4:].partition(": ")
                fields.setdefault(label, []).append(value)
            continue
        kind = next((k for w, k in RECORD_KINDS.items() if head.startswith(w)), head)
        data = None
        if kind == "oem":
            words = " ".join(l.partition("FRU OEM Data:")[2] if "OEM Data" in l else l
                             for l in lines[1:])
            data = bytes(int(b, 16) for b in re.findall(r"\b([0-9A-F]{2})h", words))
        records.append((kind, data, [l for l in lines if l.startswith("FRU Error")]))
    return areas, records


def ipmitool_date(text):
    if text == "Unspecified":
        return None
    return datetime.datetime.strptime(text, "%a %b %d %H:%M:%S %Y UTC").strftime("%Y-%m-%d %H:%M")


def freeipmi_date(text):
    return datetime.datetime.strptime(text, "%m/%d/%y - %H:%M:%S").strftime("%Y-%m-%d %H:%M")


class Device:
    """One FRU device: what the library, ipmitool and FreeIPMI show of it, and
    the faults found, each either named or failing."""

    def __init__(self, title, image):
        self.title, self.image = title, image
        self.failures, self.met = [], []

    def differ(self, peer, what, ours, theirs, named=None):
        if named:
            self.met.append((named, f"{self.title} {what}"))
        else:
            self.failures.append(f"{self.title}: {what}: library {ours!r}, {peer} {theirs!r}")

    def explain_text(self, area, index, ours, theirs):
        """The named difference that explains a standard field's texts, if any."""
        fields = area_fields(self.image, area)
        kind = fields[index][0] if index < len(fields) else None
        # ipmitool's two digits a byte hold the library's one as their second.
        if kind == 1 and (theirs == "Error 'FRU invalid BCD encoding'"
                          or ours and theirs and theirs[1::2] == ours):
            return "bcd plus"
        if kind == 2 and theirs is not None and ours.startswith(theirs) and not ours[
                len(theirs):].strip():
            return "6-bit padding"
        return None

    def compare_areas(self, peer, column, lib, shown, custom_label, hex_format):
        """The board's and product's fields against the peer's `shown` {area:
        {label: [values]}}, its labels in `column` of BOARD and PRODUCT."""
        for area, fields in (("board", BOARD), ("product", PRODUCT)):
            for index, field in enumerate(fields):
                key, label = field[0], field[column]
                ours, theirs = lib.get(f"{area}.{key}", ""), shown[area].get(label, [None])[0]
                if ours != (theirs or ""):
                    self.differ(peer, f"{area} {key}", ours, theirs,
                                self.explain_text(area, index, ours, theirs))
            self.compare_customs(peer, area, lib, shown[area].get(custom_label[area], []),
                                 hex_format)

    def compare_customs(self, peer, area, lib, theirs, hex_format):
        ours = [custom_text(tl, data, hex_format) for tl, data in lib[f"{area}.custom"]]
        if ours == theirs:
            return
        # The peers end a text at a 0 byte; ipmitool leaves out what is left empty.
        cut = [t.split("\0")[0] if "\0" in t else t for t in ours]
        named = "0 in text" if theirs in (cut, [t for t in cut if t]) else None
        self.differ(peer, f"{area} custom fields", ours, theirs, named)

    def compare_ipmitool(self, lib, shown, crashed):
        if crashed:
            self.met.append(("ipmitool crash", self.title))
        minutes = int(lib.get("board.mfg_minutes", "0"))
        for date in shown.get("Board Mfg Date", []):
            if ipmitool_date(date) is None and minutes == 0:
                self.met.append(("unspecified date", self.title))
            elif ipmitool_date(date) != lib["board.mfg_date"]:
                self.differ("ipmitool", "board date", lib["board.mfg_date"], date)
        self.compare_areas("ipmitool", 1, lib, {"board": shown, "product": shown},
                           {"board": "Board Extra", "product": "Product Extra"}, bytes.hex)

    def compare_freeipmi(self, lib, areas, records):
        hexed = lambda data: " ".join(f"{b:02X}h" for b in data)
        board = areas.get("Board", {})
        for date in board.get("Board Manufacturing Date/Time", []):
            if freeipmi_date(date) != lib["board.mfg_date"]:
                self.differ("FreeIPMI", "board date", lib["board.mfg_date"], date)
        self.compare_areas("FreeIPMI", 2, lib,
                           {a: areas.get(a.capitalize(), {}) for a in ("board", "product")},
                           {a: f"{a.capitalize()} Custom Info" for a in ("board", "product")},
                           hexed)
        ours = [(t, n) if t < 0xC0 else ("oem", n) for t, n in lib["records"]]
        theirs = [(k, None if d is None else len(d) + 3) for k, d, e in records if not e]
        # Only OEM records show their length: the others have the length of their type.
        ours = [(k, n if k == "oem" else None) for k, n in ours]
        errors = [e[0] for _, _, e in records if e]
        good = len(records) - len(errors)
        rc = lib["multirecord"][0]
        if ours == theirs and not errors and rc in ("0", "-13"):
            return
        # The library stops at the fault, FreeIPMI reads on: the same records before it.
        named = "broken image" if (ours == theirs and errors and rc != "0" and all(
            e for _, _, e in records[good:]) and "opalkelly_default" in self.title) else None
        self.differ("FreeIPMI", "multirecords", f"{ours} rc {rc}", f"{theirs}, {errors[:1]}", named)


def boards(args, work, images):
    """(title, board file, {FRU ID: image}) of the simulated boards' FRUs and
    of each real image as FRU 0 of a board written into `work`."""
    fru = os.path.join(args.boards, "fru")
    jobs = [(name, os.path.join(args.boards, f"{name}.toml"),
             {n: os.path.join(fru, f"{name}-{n}.bin") for n in (0, 1)})
            for name in ("default", "migrate")]
    for image in images or []:
        name = os.path.relpath(image, os.path.join(args.data, REAL_FRU))
        board = os.path.join(work, name.replace("/", "_") + ".toml")
        real_fru_board(args.boards, image, board)
        jobs.append((name, board, {0: image}))
    return jobs


def compare(device, image_path, got, verbose, plain, mac):
    """Compares hwboard's report `got` of `device` with ipmitool's output
    (`verbose`, and `plain` where -v crashed) and FreeIPMI's decoding of the
    image; for FRU 0 also the MAC address hwboard found (`mac`, its "fru" part)."""
    lib = library(got)
    # A signal, or status 1 where a sanitizer's runtime, preloaded with the
    # simulator's shim in the sanitizer build, catches it.
    crashed = verbose[1] != 0 and "opalkelly_default.bin" in image_path
    if verbose[1] != 0 and not crashed:
        device.failures.append(f"{device.title}: ipmitool -v ended with {verbose[1]}")
    device.compare_ipmitool(lib, ipmitool((plain if crashed else verbose)[0].splitlines()),
                            crashed)
    # ipmi-fru itself where installed; else its output stored beside the image
    stored = image_path[:-len(".bin")] + ".ipmi-fru.txt"
    if not shutil.which("ipmi-fru") and os.path.isfile(stored):
        text = open(stored, encoding="latin-1").read()
    else:
        text = subprocess.run(["ipmi-fru", "-v", "--interpret-oem-data",
                               f"--fru-file={image_path}"], capture_output=True, check=False,
                              env=dict(os.environ, TZ="UTC")).stdout.decode("latin-1")
    device.compare_freeipmi(lib, *freeipmi(text))
    if mac is not None:
        macs = [t for t in ipmitool(verbose[0].splitlines()).get("Board Extra", [])
                if t.startswith("MAC=")]
        expected = (0, macs[-1][4:21]) if macs else (
            (99 if lib["board"][0] == "0" else int(lib["board"][0])), "")
        if (mac.get("result"), mac.get("text") or "") != expected:
            device.failures.append(f"{device.title}: MAC {mac}, custom fields {macs}")
