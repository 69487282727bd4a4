#!/usr/bin/env python3
"""ipmitool and FreeIPMI on the simulated IPMC when it serves a real SDR set.

The set (119 records of another project's BMC) and what two independent
tools showed of its BMC's own sensors, served with chosen raw readings by
another simulator, lie beside the repository, not in it; without them the
test is skipped. The board is made here: the default board with the set as
its repository, the IPMC at the set's BMC address 0x20 (so that clients read
those sensors directly; the other controllers' sensors time out) and the
same raw readings. Every sensor record must be listed, and the BMC's sensors
shown as the independent tools showed them.
"""
import argparse
import itertools
import os
import re
import subprocess
import sys
import tempfile

SKIPPED = 77


def records(dump):
    """(type, record bytes) of each record of an SDR dump."""
    at = 0
    while at < len(dump):
        size = 5 + dump[at + 4]
        yield dump[at + 3], dump[at:at + size]
        at += size


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
    sdr_set = os.path.join(args.data, "sdr/openipmi/marvell-main.sdr.bin")
    seen = os.path.join(args.data, "sdr/openipmi-sim")
    if not os.path.isfile(sdr_set) or not os.path.isdir(seen):
        print(f"skipped: no real SDR set at {sdr_set}")
        return SKIPPED
    dump = open(sdr_set, "rb").read()
    expected = {name: open(os.path.join(seen, name), encoding="utf-8").read().splitlines()
                for name in ("ipmitool-sdr-elist-full.txt", "ipmitool-sensor.txt",
                             "freeipmi-ipmi-sensors.txt")}
    readings = re.findall(r"^sensor_set_value 0x20 0 (\d+) (0x[0-9a-f]+) 0$",
                          open(os.path.join(seen, "oracle.emu"), encoding="utf-8").read(), re.M)
    failures = []

    with tempfile.TemporaryDirectory(prefix="hwregs-real-sdr-") as tmp:
        board = os.path.join(tmp, "board.toml")
        with open(board, "w", encoding="utf-8") as f:
            f.write(f'base = "{os.path.abspath(args.boards)}/default.toml"\n'
                    f'name = "real-sdr"\n[ipmc]\nsdr_file = "{os.path.abspath(sdr_set)}"\n'
                    # hundreds of bridged readings time out: at once here
                    "ipmb_timeout_ms = 0\n"
                    "[ipmc.picmg]\nipmb0_address = 0x20\n[ipmc.sensors]\n"
                    + "".join(f"{n} = {{ reading = {v} }}\n" for n, v in readings))

        def run(*command):
            done = subprocess.run([args.runner, "--board", board, "--state",
                                   os.path.join(tmp, "state"), "--", *command],
                                  capture_output=True, text=True, timeout=120, check=False)
            return done.stdout.splitlines(), done.returncode, done.stderr

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
        check("full records listed", len(full), sum(t == 0x01 for t, _ in records(dump)))
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
        check("self-test", run("ipmitool", "-I", "open", "mc", "selftest")[0],
              ["Selftest: passed"])

    for failure in failures:
        print("FAIL", failure)
    print(f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
