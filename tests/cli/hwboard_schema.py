#!/usr/bin/env python3
"""Every hwboard --json report of every command, on boards that answer, fail
and lie, against its definition in doc/hwboard.schema.json; and texts with
quotes, backslashes and a tab come back as the board holds them."""
import argparse
import functools
import json
import os
import shlex
import sys
import tempfile

from hwboard_vs_peers import run_all

try:
    import jsonschema
except ImportError:
    # Debian's python3-jsonschema, for a Python of its own (pyenv, say).
    sys.path.append("/usr/lib/python3/dist-packages")
    try:
        import jsonschema
    except ImportError:
        print("skipped: no Python jsonschema (Debian: python3-jsonschema)")
        sys.exit(77)

# Boards that answer everything, with sensors of every kind (rich), with
# options that fail their CRC, without mezzanine, with FRU data that lie, and
# with queries that fail.
BOARDS = ["default.toml", "rich.toml", "migrate.toml", "eng-corrupt.toml", "no-mezzanine.toml",
          "fru-hostile-bad-checksum.toml", "fru-hostile-endless-multirecord.toml",
          "fru-hostile-field-overrun.toml", "fru-hostile-huge-length.toml",
          "fru-hostile-no-board-offset.toml", "fru-hostile-zero-length.toml", "fru-word.toml",
          "fru-absent.toml", "selftest-fails.toml", "version-fails.toml", "rc-5.toml",
          "sdr-limit.toml", "no-sdr-0200.toml"]
# Queries on each of them (migrate last: it writes); then a sensor of each
# kind by name and the thresholds of each analog sensor.
QUERIES = ["devid", "--fru 2 devid", "--target 0x72 devid", "selftest", "board", "mezzanine",
           "mac", "options", "config get", "config", "fru", "fru 1", "fru 2", "sensors",
           "migrate"]
# PICMG queries of the IPMC and of the controllers behind it, of FRUs, LEDs,
# ports and channels there are and are not, on the boards that have odd ones
# and refuse Get Address Info.
PICMG = {
    "default.toml": "props|--fru 2 picmg props|--target 0x72 picmg props|addr|addr 1|addr 2|"
                    "addr 9|--fru 2 picmg addr|--target 0x72 picmg addr 0|led 0|led 1|led 2|"
                    "led 9|--fru 2 picmg led 0|--target 0x72 picmg led 0|port 0 2|port 1 5|"
                    "port 0 0|port 2 63|amc 0|amc 0 1|amc 1|amc 9|--fru 2 picmg amc 0|"
                    "--target 0x72 picmg amc 1",
    "picmg-quirks.toml": "props|addr|addr 3|led 0|led 3|amc 0|amc 1|amc 2|amc 3",
    "addrinfo-c1.toml": "addr|addr 2|props",
}
# Writes, each on a board of its own from reset: thresholds set and refused,
# every setting of config set, both on options that fail their CRC, refused
# (no report, status 1: marked "!") and forced.
WRITES = [("rich.toml", w) for w in ["threshold 'Temp Board' unc 75 -- lnc -7.5",
                                    "threshold '12V Main' uc 12.6 unc 12.288",
                                    "threshold Current uc 3.25"]] + [
    ("threshold-refused.toml", "threshold 'Temp Board' unc 75")] + [
    ("eng-corrupt.toml", w) for w in ["!threshold 12V uc 14", "--force threshold 12V uc 14",
                                      "!config set pcie_mode 3", "--force config set pcie_mode 3",
                                      "--force config set storage_switch 1 0",
                                      "!--fru 2 config set pcie_mode 3",
                                      "!--force --fru 2 config set pcie_mode 3"]] + [
    ("default.toml", "config set " + w) for w in [
        "storage_switch 0 1", "storage_switch 1 0", "pcie_port_config 3 4", "pcie_mode 2",
        "pcie_hotplug 2 1", "pcie_clock 0", "boot_cycle 2 4095 7", "clock_source 3 0",
        "clock_driver 3 1", "pll_config 1 0x33", "ipmb_mode 1", "pm_mode 0", "flag handle 1",
        "flag 0 0"]]
# Release texts with the characters JSON escapes, at most 4, 5 and 32 long.
QUOTED = ['1"\\5', 'r\\"42', 'say "hi" \\ C:\\path\ttab']
problems = []
schema = {}


def run(args, board, state, commands, fresh=False):
    """{words: (output, status)} of hwboard --json WORDS for each of `commands`."""
    hwboard = os.path.join(args.bin, "hwboard")
    ran = run_all(args, board, state, [(hwboard, "--json", *shlex.split(w)) for w in commands],
                  fresh=fresh)
    return {w: ran.get((hwboard, "--json", *shlex.split(w)), ("did not run", -1))
            for w in commands}


def definition(words):
    """The schema's definition of the report of a command's words."""
    words = shlex.split(words)
    while words[0].startswith("-"):
        words = words[2:] if words[0] in ("--fru", "--target") else words[1:]
    return (f"picmg_{words[1]}" if words[0] == "picmg"
            else "config_set" if words[:2] == ["config", "set"] else words[0])


@functools.cache
def validator(name):
    return jsonschema.Draft202012Validator({"$schema": schema["$schema"],
                                            "$defs": schema["$defs"], "$ref": f"#/$defs/{name}"})


def check(where, words, text, status, refused=False):
    if refused or status not in (0, 1):
        if status != 1 or text.strip() or not refused:
            problems.append(f"{where}: status {status}, {text[:200]!r}")
        return None
    try:
        report = json.loads(text.encode("latin-1").decode("utf-8"))
    except ValueError as e:
        problems.append(f"{where}: not JSON ({e}): {text[:200]!r}")
        return None
    for e in list(validator(definition(words)).iter_errors(report))[:3]:
        problems.append(f"{where}: at /{'/'.join(map(str, e.absolute_path))}: {e.message[:200]}")
    return report


def main():
    parser = argparse.ArgumentParser()
    for option in ("--bin", "--runner", "--boards", "--schema"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    with open(args.schema, encoding="utf-8") as f:
        schema.update(json.load(f))
    jsonschema.Draft202012Validator.check_schema(schema)
    checked = 0
    with tempfile.TemporaryDirectory(prefix="hwboard-schema-") as tmp:
        for board in BOARDS + sorted(set(PICMG) - set(BOARDS)):
            path, state = os.path.join(args.boards, board), os.path.join(tmp, board)
            ran = run(args, path, state, QUERIES if board in BOARDS else [])
            report = check(f"{board} sensors", "sensors", *ran.pop("sensors")) \
                if "sensors" in ran else None
            sensors = [s for s in (report or {}).get("sensors", []) if s.get("name")]
            checked += report is not None
            more = [f"sensor {shlex.quote(s['name'])}"
                    for s in {s["kind"]: s for s in reversed(sensors)}.values()]
            more += [f"threshold {shlex.quote(s['name'])}" for s in sensors
                     if s["kind"] == "analog"]
            more += [w if w.startswith("-") else "picmg " + w
                     for w in PICMG.get(board, "").split("|") if w]
            ran.update(run(args, path, state, list(dict.fromkeys(more))))
            for words, (text, status) in ran.items():
                checked += check(f"{board} {words}", words, text, status) is not None
        for n, (board, words) in enumerate(WRITES):
            ran = run(args, os.path.join(args.boards, board), os.path.join(tmp, f"w{n}"),
                      [words.lstrip("!")], fresh=True)
            for w, (text, status) in ran.items():
                refused = words.startswith("!")
                checked += check(f"{board} {w}", w, text, status, refused) is not None
        quoted = os.path.join(tmp, "quoted.toml")
        with open(quoted, "w", encoding="utf-8") as f:
            f.write(f'base = "{os.path.abspath(os.path.join(args.boards, "default.toml"))}"\n'
                    f'name = "quoted"\n[ipmc.oem]\nrelease = {json.dumps(QUOTED)}\n')
        text, status = run(args, quoted, os.path.join(tmp, "quoted"), ["devid"])["devid"]
        if (check("quoted devid", "devid", text, status) or {}).get("release") != QUOTED:
            problems.append(f"quoted devid: {text!r}, the board's release {QUOTED!r}")
    for p in problems:
        print("FAIL", p)
    print(f"{checked} reports validated, {len(problems)} problems")
    return 1 if problems or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
