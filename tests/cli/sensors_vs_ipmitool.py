#!/usr/bin/env python3
"""The library's sensors against ipmitool's, sensor by sensor (hwboard_vs_peers.py
runs it on hwboard's report, made into the lines of the library's listing).

ipmitool reads the same IPMC: "sensor" shows the full and compact sensor
records, "sdr elist all" the event-only and locator records too. Records are
paired by their place in the repository, whose bytes come from the board file
or the SDR set; the raw readings the library got come from the trace of its run.

Compared for each sensor: the name, whether there is a reading, the value, the
unit, ipmitool's status against the library's severity, each threshold's
presence and value, and for discrete sensors the two state bytes (ipmitool
shows the first as the value, both as the status); for the other records
ipmitool lists, the name, the sensor number and the entity.

Values: both print three decimals of the same conversion, ipmitool from a
double, the library from a float (24-bit mantissa). They may differ by one unit
of the last decimal where the two round on either side of a half, plus the
float's own rounding, |value| * 2^-24: at most 0.001 + |value| * 2^-24.
"""
import re

# Where ipmitool and the library differ by design; the library keeps to its own
# behaviour, which is checked wherever the difference applies.
DIFFERENCES = {
    "raw reading 0": "the library gives 0.0 for a raw reading of 0 without converting it; "
                     "ipmitool converts it, which differs where B is not 0",
    "non-linear": "the library does not interpret a non-linear sensor (kind 0, valid 0, no "
                  "name or number); ipmitool converts it",
    "unit a * b": "the library joins a multiplying modifier unit with blanks "
                  "('Watts * hour'), ipmitool without ('Watts*hour')",
    "other owner": "ipmitool bridges its requests for another controller's sensor to that "
                   "owner, which times out (0xC3): no reading, unit, status or thresholds; "
                   "the library asks the IPMC for the same sensor number and shows the IPMC's "
                   "reading and thresholds of it, converted with this record's factors",
    "not listed": "ipmitool leaves out records of types it does not show (entity "
                  "associations); the library lists them uninterpreted (kind 0, valid 0)",
}
# ipmitool's status against the library's severity; "na": no reading.
SEVERITY = {"na": 0, "ok": 1, "nc": 2, "cr": 3, "nr": 4}
# ipmitool's sensor columns of the thresholds in the library's order: lower
# non-critical, critical, non-recoverable, then upper.
THRESHOLD_COLUMNS = (6, 5, 4, 7, 8, 9)
LISTED = {0x01, 0x02, 0x03, 0x11, 0x12}  # record types "sdr elist all" shows
SENSORS = {0x01, 0x02}  # and "sensor"
READING = re.compile(r"netfn=0x04 cmd=0x2d data=([0-9a-f]{2}) .*ccode=0x00 data=([0-9a-f]{2})")


def close(library, ipmitool):
    a, b = float(library), float(ipmitool)
    return abs(round(a * 1000) - round(b * 1000)) <= 1 + abs(b) * 1000 / 2**24


def compare(repository, ipmc, library, elist, sensor, raw, fail, met):
    """Each record of the repository as the library and ipmitool show it."""
    fields = lambda lines: iter([[f.strip() for f in line.split("|")] for line in lines])
    elist, sensor = fields(elist), fields(sensor)
    if len(library) != len(repository):
        fail(f"{len(library)} records listed by the library, {len(repository)} in the repository")
    for record, line in zip(repository, library):
        record_type, body, lib = record[3], record[5:], line.split("|")
        name, discrete = lib[4], lib[1] == "1"
        expect = lambda what, ok: ok or fail(f"{name or lib[0]}: {what}: {line}")
        expect("record ID", int(lib[0], 16) == record[0] | record[1] << 8)
        if record_type not in LISTED:
            met("not listed", lib[0])
            expect("uninterpreted", lib[1] == lib[3] == "0")
            continue
        shown = next(elist, None)
        if shown is None:
            fail("ipmitool sdr elist all ends before the repository")
            return
        if record_type == 0x01 and body[15] >> 6 != 3 and body[18] != 0:
            met("non-linear", shown[0])
            expect("not interpreted", lib[1:5] == ["0", "0x00", "0", ""])
            next(sensor, None)
            continue
        expect(f"name, ipmitool {shown[0]!r}", name == shown[0])
        expect(f"number, ipmitool {shown[1]}", int(lib[2], 16) == int(shown[1][:-1], 16))
        if record_type not in SENSORS:
            expect(f"entity, ipmitool {shown[3]}", shown[3] == f"{int(lib[5], 16)}.{lib[6]}")
            continue
        s = next(sensor, None)
        if s is None:
            fail("ipmitool sensor ends before the repository")
            return
        available = lib[5] == "1"
        if body[0] != ipmc:
            met("other owner", name)
            expect("ipmitool without reading", s[1] == s[3] == "na" and set(s[4:]) == {"na"})
            expect("the IPMC's reading", available)
            continue
        expect(f"discrete, ipmitool {s[2]!r}", discrete == (s[2] == "discrete"))
        if not expect(f"reading, ipmitool {s[1]}", available == (s[1] != "na")):
            continue
        if discrete:
            states = [int(b, 16) for b in lib[7:9]]
            expect(f"state bytes, ipmitool {s[1]} {s[3]}", not available or
                   (s[1], s[3]) == (f"0x{states[0]:x}", "0x{:02x}{:02x}".format(*states)))
            continue
        value, unit, severity, mask, thresholds = lib[6], lib[7], lib[8], lib[9], lib[10:]
        if available and raw.get(body[2]) == 0 and (body[21] or body[22] >> 6):
            met("raw reading 0", name)
            expect("raw 0 not converted", value == "0.000")
        elif available:
            expect(f"value, ipmitool {s[1]}", close(value, s[1]))
        if (body[15] >> 1) & 3 == 2:
            met("unit a * b", name)
            s[2] = s[2].replace("*", " * ")
        expect(f"unit, ipmitool {s[2]!r}", unit == s[2])
        expect(f"severity, ipmitool {s[3]}", int(severity) == SEVERITY[s[3]])
        for i, column in enumerate(THRESHOLD_COLUMNS):
            present = int(mask, 16) >> i & 1
            expect(f"threshold {i}, ipmitool {s[column]}", present == (s[column] != "na")
                   and (not present or close(thresholds[i], s[column])))
    for rest, what in ((elist, "sdr elist all"), (sensor, "sensor")):
        for s in rest:
            fail(f"ipmitool {what} shows more records than the repository holds: {s}")
