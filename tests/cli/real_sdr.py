#!/usr/bin/env python3
"""ipmitool and FreeIPMI on the simulated IPMC when it serves a real SDR set.

The set (119 records of another project's BMC) and what two independent
tools showed of its BMC's own sensors, served with chosen raw readings by
another simulator, lie beside the repository, not in it; without them the
test is skipped. The board is made at test time (sdr_boards.real_set_board)
with the same raw readings. Every sensor record must be listed, and the
BMC's sensors shown as the independent tools showed them.
"""
import argparse
import itertools
import os
import sys
import tempfile

from sdr_boards import SKIPPED, REAL_SET_SEEN, real_set_board, records
from sdr_boards import run as run_on


def sensor_names(dump):
    """The ID strings of the full, compact and event-only records."""
    id_at = {0x01: 47, 0x02: 31, 0x03: 16}  # the ID string's type/length byte
    return [r[id_at[t] + 1:id_at[t] + 1 + (r[id_at[t]] & 0x1F)].decode()
            for t, r in records(dump) if t in id_at]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", required=True, help="hwsim")
    parser.add_argument("--boards", required=True, help="directory of the board files")
    parser.add_argument("--data", required=True, help="the shared data directory")
    args = parser.parse_args()
    seen = os.path.join(args.data, REAL_SET_SEEN)
    failures = []

    with tempfile.TemporaryDirectory(prefix="hwregs-real-sdr-") as tmp:
        board = os.path.join(tmp, "board.toml")
        dump = real_set_board(args.boards, args.data, board)
        if dump is None:
            return SKIPPED
        expected = {name: open(os.path.join(seen, name), encoding="utf-8").read().splitlines()
                    for name in ("ipmitool-sdr-elist-full.txt", "ipmitool-sensor.txt",
                                 "freeipmi-ipmi-sensors.txt")}

        def run(*command):
            return run_on(args.runner, board, os.path.join(tmp, "state"), *command)

        def check(what, got, want):
            if got == want:
                return
            if isinstance(got, list) and isinstance(want, list):
                failures.append(f"{what}:" + "".join(
                    f"\n  - {w!r}\n  + {g!r}" for w, g in itertools.zip_longest(want, got)
                    if w != g))
            else:
                failures.append(f"{what}:\n  expected {want!r}\n  got      {got!r}")

        listed, rc, err = run("ipmitool", "-I", "open", "sdr", "elist", "all")
        check("ipmitool sdr elist all: status", (rc, err), (0, ""))
        names = [line.split("|")[0].strip() for line in listed]
        check("every sensor record listed", [n for n in names if n in sensor_names(dump)],
              sensor_names(dump))

        full, _, _ = run("ipmitool", "-I", "open", "sdr", "elist", "full")
        check("the BMC's full sensors", full[:19], expected["ipmitool-sdr-elist-full.txt"])

        # The other simulator answers thresholds the fans' records do not let
        # read: their threshold columns differ, the rest is compared.
        shown, _, _ = run("ipmitool", "-I", "open", "sensor")
        wanted = expected["ipmitool-sensor.txt"]
        by_name = {line[:17]: line for line in shown}
        for line in wanted:
            got = by_name.get(line[:17], "")
            cut = 4 if line.startswith("fan") else None
            check(f"ipmitool sensor: {line[:17].strip()}",
                  got.split("|")[:cut], line.split("|")[:cut])

        # FreeIPMI builds its SDR cache from the SDR repository only; with the
        # other simulator's cache it reads the sensors from this IPMC. Given a
        # cache file it leaks a string, which the sanitizer build would report.
        cache = os.path.join(seen, "freeipmi-sdr-cache.bin")
        sensors, rc, err = run("env", "ASAN_OPTIONS=detect_leaks=0", "ipmi-sensors",
                               "--driver-type=OPENIPMI", f"--sdr-cache-file={cache}",
                               "--quiet-cache")
        check("ipmi-sensors: status", (rc, err), (0, ""))
        check("ipmi-sensors", sensors, expected["freeipmi-ipmi-sensors.txt"])

        # No threshold of the set is settable: a change is refused and nothing changes.
        _, rc, err = run("ipmitool", "-I", "open", "--", "sensor", "thresh", "12V Switch",
                         "unc", "12.5")
        check("threshold refused", (rc, err.strip()),
              (1, "Error setting threshold: Invalid data field in request"))
        after, _, _ = run("ipmitool", "-I", "open", "sensor", "get", "12V Switch")
        check("threshold kept", [l for l in after if "Upper Non-Critical" in l],
              [" Upper Non-Critical    : 12.368"])

    for failure in failures:
        print("FAIL", failure)
    print(f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
