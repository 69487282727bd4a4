#!/usr/bin/env python3
"""hwboard --json on the simulated boards: every report parses as JSON and
has the members its manual page documents, in that order; the sensors agree
with the library's own listing (sensor_list) value for value; hostile FRU
data still gives valid JSON; and texts with quotes and backslashes come back
as the board holds them."""
import argparse
import json
import os
import subprocess
import sys
import tempfile

SENSOR = ["record_id", "number", "name", "kind", "valid", "available", "value", "raw", "unit",
          "state", "thresholds", "raw_thresholds", "details"]
THRESHOLDS = ["lnc", "lc", "lnr", "unc", "uc", "unr"]
AREA_BOARD = ["result", "valid", "mfg_minutes", "mfg_date", "manufacturer", "product_name",
              "serial_number", "part_number", "fru_file_id", "custom"]
THRESHOLD = ["name", "record_id", "number", "unit", "thresholds", "changes"]
THRESHOLD_ROW = ["threshold", "settable", "value", "raw"]
CHANGE = ["threshold", "asked", "before", "after", "raw_before", "raw_after", "changed"]
LED = ["led", "states", "function", "colour_name", "local", "override"]
LED_STATE = ["function", "off_duration", "on_duration", "colour"]
SETTING = ["key", "select", "result", "values", "changed"]
AREA_PRODUCT = ["result", "valid", "manufacturer", "product_name", "part_number", "version",
                "serial_number", "asset_tag", "fru_file_id", "custom"]

# command words: the documented top-level members
TOP = {
    "devid": ["target", "firmware", "ipmi_version", "manufacturer_id", "product_id",
              "aux_firmware", "release"],
    "selftest": ["passed", "state", "state_code", "detail"],
    "board": ["options_crc_valid", "mezzanine", "mezzanine_fru_id", "mac_fru", "mac_options"],
    "mezzanine": ["result", "fitted", "fru_id", "option", "board_area"],
    "mac": ["fru", "options", "same"],
    "options": ["crc_valid", "crc", "crc_computed", "board_option", "mezzanine",
                "mezzanine_option", "further", "mac", "mac_suffix", "fcap", "flags"],
    "config": ["storage_switch", "pcie", "boot_cycle", "clocks", "plls", "pll_status",
               "ipmb_mode", "pm_mode"],
    "fru": ["fru_id", "board", "product", "multirecords"],
    "fru 1": ["fru_id", "board", "product", "multirecords"],
    "sensors": ["sensors"],
    "sensor": SENSOR,  # the first analog sensor of the board's "sensors"
    "threshold": THRESHOLD,  # the same sensor
    "picmg props": ["result", "extension_version", "max_fru_id", "fru_id"],
    "picmg addr": ["result", "hardware_address", "ipmb0_address", "fru_id", "site_id",
                   "site_type", "site_type_name", "ipmbl_address"],
    "picmg addr 2": ["result", "hardware_address", "ipmb0_address", "fru_id", "site_id",
                     "site_type", "site_type_name", "ipmbl_address"],
    "picmg led 0": ["fru_id", "result", "leds"],
    "picmg port 0 1": ["interface", "channel", "result", "enabled", "links"],
    "picmg amc 0": ["channel", "device", "result", "link_count", "lanes", "group", "protocol",
                    "enabled"],
    "config set pcie_mode 2": SETTING,  # writes
    "migrate": ["result", "crc_valid_before", "crc_valid_after", "changes", "changed"],  # last: it writes
}
# a report that the board lets fail still has these members (the rest: null)
BOARDS = ["default.toml", "rich.toml", "migrate.toml", "eng-corrupt.toml", "no-mezzanine.toml"]
HOSTILE = ["fru-hostile-bad-checksum.toml", "fru-hostile-field-overrun.toml",
           "fru-hostile-huge-length.toml", "fru-word.toml"]


def run(args, board, state, words):
    done = subprocess.run([args.runner, "--board", os.path.join(args.boards, board), "--state",
                           state, "--"] + words, capture_output=True, check=False, timeout=120)
    # JSON is UTF-8: a byte of the board's texts that is not escaped fails here.
    return done.returncode, done.stdout, done.stderr.decode("latin-1")


def check_members(where, obj, keys, problems):
    if not isinstance(obj, dict) or list(obj) != keys:
        problems.append(f"{where}: members {list(obj) if isinstance(obj, dict) else obj!r}, "
                        f"documented {keys}")
        return False
    return True


def check_sensor(where, s, problems):
    if not check_members(where, s, SENSOR, problems):
        return
    if s["kind"] == "analog":
        check_members(f"{where} thresholds", s["thresholds"], THRESHOLDS, problems)
        check_members(f"{where} raw_thresholds", s["raw_thresholds"], THRESHOLDS, problems)
        for t in THRESHOLDS:
            if (s["thresholds"][t] is None) != (s["raw_thresholds"][t] is None):
                problems.append(f"{where}: threshold {t} converted without raw or raw without")
        if s["available"] and (s["value"] is None or s["raw"] is None):
            problems.append(f"{where}: an available reading without value or raw")
    elif s["thresholds"] is not None or s["value"] is not None:
        problems.append(f"{where}: a {s['kind']} record with a value or thresholds")


def check_report(where, words, report, problems):
    by_name = words[0] in ("sensor", "threshold")
    keys = TOP[words[0] if by_name else " ".join(words)]
    if not check_members(where, report, keys, problems):
        return
    if words[0] == "sensors":
        for s in report["sensors"]:
            check_sensor(f"{where} {s.get('name')!r}", s, problems)
    elif words[0] == "sensor":
        check_sensor(where, report, problems)
    elif words[0] == "fru":
        for area, members in (("board", AREA_BOARD), ("product", AREA_PRODUCT)):
            if report[area]["result"] == 0:
                check_members(f"{where} {area}", report[area], members, problems)
    elif words[0] == "threshold":
        for row in report["thresholds"]:
            check_members(f"{where} threshold", row, THRESHOLD_ROW, problems)
        for row in report["changes"]:
            check_members(f"{where} change", row, CHANGE, problems)
    elif words[:2] == ["picmg", "led"]:
        for row in report["leds"]:
            if check_members(f"{where} LED", row, LED, problems):
                for state in ("local", "override"):
                    if row[state] is not None:
                        check_members(f"{where} LED {state}", row[state], LED_STATE, problems)
    elif words[0] == "migrate":
        if report["changed"] != bool(report["changes"]):
            problems.append(f"{where}: changed disagrees with changes")
    elif words[0] == "options":
        if report["crc_valid"] != (report["crc"] == report["crc_computed"]):
            problems.append(f"{where}: crc_valid disagrees with crc and crc_computed")


def library_sensors(args, board, state):
    """name: (value, unit, thresholds) from sensor_list's analog lines."""
    _, out, _ = run(args, board, state, [os.path.join(args.bin, "sensor_list")])
    sensors = {}
    for line in out.decode("utf-8", "replace").splitlines():
        f = line.split("|")
        if f[1] == "2":
            value = float(f[6]) if f[5] == "1" else None
            limits = [None if t == "na" else float(t) for t in f[10:16]]
            sensors[f[4]] = (value, f[7], limits)
    return sensors


def compare_with_library(args, board, state, report, problems):
    mine = {s["name"]: s for s in report["sensors"] if s["kind"] == "analog"}
    theirs = library_sensors(args, board, state)
    if sorted(mine) != sorted(theirs):
        problems.append(f"{board}: analog sensors {sorted(mine)}, the library's {sorted(theirs)}")
        return
    for name, (value, unit, limits) in theirs.items():
        s = mine[name]
        got = (s["value"], s["unit"], [s["thresholds"][t] for t in THRESHOLDS])
        if got != (value, unit, limits):
            problems.append(f"{board} {name!r}: {got}, the library's {(value, unit, limits)}")


# Release texts with the characters JSON escapes, at most 4, 5 and 32 long.
QUOTED = ['1"\\5', 'r\\"42', 'say "hi" \\ C:\\path\ttab']


def check_escapes(args, hwboard, tmp, problems):
    """A board whose release texts hold quotes, backslashes and a tab: devid's
    JSON gives them back exactly."""
    board = os.path.join(tmp, "quoted.toml")
    with open(board, "w", encoding="utf-8") as f:
        f.write(f'base = "{os.path.abspath(os.path.join(args.boards, "default.toml"))}"\n'
                f'name = "quoted"\n[ipmc.oem]\nrelease = {json.dumps(QUOTED)}\n')
    rc, out, err = run(args, board, os.path.join(tmp, "quoted"), [hwboard, "--json", "devid"])
    try:
        release = json.loads(out.decode("utf-8"))["release"]
    except (ValueError, KeyError, TypeError) as e:
        problems.append(f"quoted devid: not JSON ({e}), status {rc}, {err.strip()!r}: {out!r}")
        return 0
    if release != QUOTED:
        problems.append(f"quoted devid: release {release!r}, the board's {QUOTED!r}")
    return 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--runner", required=True)
    parser.add_argument("--boards", required=True)
    args = parser.parse_args()
    hwboard = os.path.join(args.bin, "hwboard")
    problems = []
    checked = 0
    with tempfile.TemporaryDirectory(prefix="hwboard-json-") as tmp:
        for board in BOARDS:
            state = os.path.join(tmp, board)
            first_analog = "none"
            for command in TOP:
                words = command.split() + ([first_analog] if command in ("sensor", "threshold")
                                           else [])
                rc, out, err = run(args, board, state, [hwboard, "--json"] + words)
                where = f"{board} {command}"
                if rc not in (0, 1) or (rc == 1 and not err.startswith("hwboard: ")):
                    problems.append(f"{where}: status {rc}, {err.strip()!r}")
                    continue
                if not out and rc == 1:
                    continue
                try:
                    report = json.loads(out.decode("utf-8"))
                except ValueError as e:
                    problems.append(f"{where}: not JSON ({e}): {out[:200]!r}")
                    continue
                checked += 1
                check_report(where, words, report, problems)
                if command == "sensors":
                    compare_with_library(args, board, state, report, problems)
                    first_analog = next((s["name"] for s in report["sensors"]
                                         if s["kind"] == "analog"), "none")
        for board in HOSTILE:
            rc, out, _ = run(args, board, os.path.join(tmp, board), [hwboard, "--json", "fru"])
            try:
                check_report(f"{board} fru", ["fru"], json.loads(out.decode("utf-8")), problems)
                checked += 1
            except ValueError as e:
                problems.append(f"{board} fru: not JSON ({e}), status {rc}: {out[:200]!r}")
        checked += check_escapes(args, hwboard, tmp, problems)
    for p in problems:
        print("FAIL", p)
    print(f"{checked} reports checked, {len(problems)} problems")
    return 1 if problems or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
