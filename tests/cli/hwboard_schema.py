#!/usr/bin/env python3
"""Every hwboard --json report of every command, on boards that answer, fail
and lie, against doc/hwboard.schema.json: each command's report against its
definition there.

So that a schema that lets anything through cannot pass, each report is also
validated mutated at each of its objects, and each mutation must be rejected:
the object without any one of its members, with an extra member, and with any
one member's value of a type no member has (a list of a list)."""
import argparse
import copy
import json
import os
import shlex
import subprocess
import sys
import tempfile

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

# Boards that answer everything, with the mezzanine's FRU and sensors of every
# kind (rich), with options that fail their CRC (migrate, eng-corrupt), without
# mezzanine, with FRU data that lie, and with queries that fail.
BOARDS = ["default.toml", "rich.toml", "migrate.toml", "eng-corrupt.toml", "no-mezzanine.toml",
          "fru-hostile-bad-checksum.toml", "fru-hostile-endless-multirecord.toml",
          "fru-hostile-field-overrun.toml", "fru-hostile-huge-length.toml",
          "fru-hostile-no-board-offset.toml", "fru-hostile-zero-length.toml", "fru-word.toml",
          "fru-absent.toml", "selftest-fails.toml", "version-fails.toml", "rc-5.toml",
          "sdr-limit.toml", "no-sdr-0200.toml"]
# command words: the schema's definition of their report; migrate last, as it writes
COMMANDS = [("devid", "devid"), ("selftest", "selftest"), ("board", "board"),
            ("mezzanine", "mezzanine"), ("mac", "mac"), ("options", "options"),
            ("config get", "config"), ("config", "config"), ("fru", "fru"), ("fru 1", "fru"),
            ("fru 2", "fru"), ("sensors", "sensors"), ("migrate", "migrate")]
# PICMG queries, which only read: of the IPMC and of the controllers behind it,
# of FRUs, LEDs, ports and channels there are and are not, on the boards that
# have them, have odd ones and refuse Get Address Info.
PICMG = {
    "default.toml": [
        "picmg props", "--fru 2 picmg props", "--target 0x72 picmg props",
        "picmg addr", "picmg addr 1", "picmg addr 2", "picmg addr 9",
        "--fru 2 picmg addr", "--target 0x72 picmg addr 0",
        "picmg led 0", "picmg led 1", "picmg led 2", "picmg led 9",
        "--fru 2 picmg led 0", "--target 0x72 picmg led 0",
        "picmg port 0 2", "picmg port 1 5", "picmg port 0 0", "picmg port 2 63",
        "picmg amc 0", "picmg amc 0 1", "picmg amc 1", "picmg amc 9",
        "--fru 2 picmg amc 0", "--target 0x72 picmg amc 1"],
    "picmg-quirks.toml": [
        "picmg props", "picmg addr", "picmg addr 3", "picmg led 0", "picmg led 3",
        "picmg amc 0", "picmg amc 1", "picmg amc 2", "picmg amc 3"],
    "addrinfo-c1.toml": ["picmg addr", "picmg addr 2", "picmg props"],
}
# Commands that write, each on a board of its own from reset (board, command
# words): thresholds set, kept and refused; every setting of config set; both
# on options that fail their CRC, refused (null) and forced.
WRITES = [
    ("rich.toml", "threshold 'Temp Board' unc 75 -- lnc -7.5"),
    ("rich.toml", "threshold '12V Main' uc 12.6 unc 12.288"),
    ("rich.toml", "threshold Current uc 3.25"),
    ("threshold-refused.toml", "threshold 'Temp Board' unc 75"),
    ("eng-corrupt.toml", "threshold 12V uc 14"),
    ("eng-corrupt.toml", "--force threshold 12V uc 14"),
    ("eng-corrupt.toml", "config set pcie_mode 3"),
    ("eng-corrupt.toml", "--force config set pcie_mode 3"),
    ("eng-corrupt.toml", "--force config set storage_switch 1 0"),
    ("eng-corrupt.toml", "--fru 2 config set pcie_mode 3"),
    ("eng-corrupt.toml", "--force --fru 2 config set pcie_mode 3"),
] + [("default.toml", f"config set {args}") for args in [
    "storage_switch 0 1", "storage_switch 1 0", "pcie_port_config 3 4", "pcie_mode 2",
    "pcie_hotplug 2 1", "pcie_clock 0", "boot_cycle 2 4095 7", "clock_source 3 0",
    "clock_driver 3 1", "pll_config 1 0x33", "ipmb_mode 1", "pm_mode 0", "flag handle 1",
    "flag 0 0"]]
# Writes refused before anything is written print no report and fail.
REFUSED = {("eng-corrupt.toml", "threshold 12V uc 14"),
           ("eng-corrupt.toml", "config set pcie_mode 3"),
           ("eng-corrupt.toml", "--fru 2 config set pcie_mode 3"),
           ("eng-corrupt.toml", "--force --fru 2 config set pcie_mode 3")}
MARK = "@@@ "


def script(hwboard, commands):
    """One shell run of many hwboard commands, each output behind a line naming
    it and ended by its exit status."""
    return "\n".join(f"echo {shlex.quote(MARK + words)}; {hwboard} --json {words}; "
                     f"echo '{MARK}'$?" for words in commands)


def outputs(text):
    """{command words: (output, status)} of a script's run."""
    got, name, lines = {}, None, []
    for line in text.split("\n"):
        if line.startswith(MARK) and name is not None:
            got[name] = ("\n".join(lines), int(line[len(MARK):]))
            name = None
        elif line.startswith(MARK):
            name, lines = line[len(MARK):], []
        else:
            lines.append(line)
    return got


def objects(value, path=()):
    """(path, object) of every object in a report, the report first."""
    if isinstance(value, dict):
        yield path, value
    children = value.items() if isinstance(value, dict) else enumerate(value) if isinstance(
        value, list) else ()
    for key, child in children:
        yield from objects(child, path + (key,))


def mutations(report):
    """(what, report) the schema must reject: at every object of the report."""
    for path, obj in objects(report):
        where = "/" + "/".join(map(str, path))
        for key in obj:
            yield f"without {where}/{key}", lambda o, key=key: o.pop(key), path
            yield f"with {where}/{key} of the wrong type", (
                lambda o, key=key: o.__setitem__(key, [[]])), path
        yield f"with an extra member in {where}", (
            lambda o: o.__setitem__("unexpected_member", 0)), path


def mutated(report, change, path):
    copied = copy.deepcopy(report)
    target = copied
    for key in path:
        target = target[key]
    change(target)
    return copied


class Checker:
    def __init__(self, schema):
        self.validators = {}
        self.schema = schema
        self.problems, self.checked, self.mutated = [], 0, 0

    def validator(self, name):
        if name not in self.validators:
            one = {"$schema": self.schema["$schema"], "$defs": self.schema["$defs"],
                   "$ref": f"#/$defs/{name}"}
            self.validators[name] = jsonschema.Draft202012Validator(one)
        return self.validators[name]

    def check(self, where, name, text, status, err="", refused=False):
        if refused:
            if status != 1 or text.strip():
                self.problems.append(f"{where}: status {status} and {text[:200]!r}, "
                                     "not 1 and no report")
            return None
        if status not in (0, 1):
            self.problems.append(f"{where}: status {status}: {err.strip()}")
            return None
        try:
            report = json.loads(text)
        except ValueError as e:
            self.problems.append(f"{where}: not JSON ({e}): {text[:200]!r}")
            return None
        validator = self.validator(name)
        errors = list(validator.iter_errors(report))
        for e in errors[:3]:
            self.problems.append(f"{where}: at /{'/'.join(map(str, e.absolute_path))}: "
                                 f"{e.message[:200]}")
        self.checked += 1
        for what, change, path in mutations(report):
            self.mutated += 1
            if validator.is_valid(mutated(report, change, path)):
                self.problems.append(f"{where}: the schema lets a report {what} pass")
        return report


def definition(words):
    """The schema's definition of the report of a command's words, options
    before it or not."""
    words = shlex.split(words)
    while words[0].startswith("-"):
        words = words[2:] if words[0] in ("--fru", "--target") else words[1:]
    if words[0] == "picmg":
        return f"picmg_{words[1]}"
    if words[:2] == ["config", "set"]:
        return "config_set"
    return words[0]


def sanitizer_reports(board, stderr, problems):
    """A sanitizer's report ends a run with status 1, which a query's failure
    has too: it is told by what it writes."""
    for line in stderr.decode("latin-1").splitlines():
        if "Sanitizer" in line or "runtime error:" in line:
            problems.append(f"{board}: {line}")


def run_commands(args, checker, board, state, commands, fresh=False):
    """Runs commands (words) on a board in one go and checks each report."""
    hwboard = os.path.join(args.bin, "hwboard")
    done = subprocess.run([args.runner, "--board", os.path.join(args.boards, board), "--state",
                           state] + (["--fresh"] if fresh else []) + ["--", "sh", "-c",
                          script(hwboard, commands)],
                          capture_output=True, timeout=240, check=False)
    ran = outputs(done.stdout.decode("utf-8"))
    sanitizer_reports(board, done.stderr, checker.problems)
    for words in commands:
        if words in ran:
            checker.check(f"{board} {words}", definition(words), *ran[words],
                          refused=(board, words) in REFUSED)
        else:
            checker.problems.append(f"{board} {words}: did not run ({done.stderr[-300:]!r})")


def run_board(args, checker, board, state):
    hwboard = os.path.join(args.bin, "hwboard")
    path = os.path.join(args.boards, board)
    done = subprocess.run([args.runner, "--board", path, "--state", state, "--", "sh", "-c",
                           script(hwboard, [words for words, _ in COMMANDS])],
                          capture_output=True, timeout=240, check=False)
    ran = outputs(done.stdout.decode("utf-8"))
    sanitizer_reports(board, done.stderr, checker.problems)
    sensors = None
    for words, name in COMMANDS:
        if words not in ran:
            checker.problems.append(f"{board} {words}: did not run ({done.stderr[-300:]!r})")
            continue
        report = checker.check(f"{board} {words}", name, *ran[words])
        if words == "sensors":
            sensors = report
    # one sensor of each kind by name, the thresholds of every analog sensor,
    # and the device ID of controllers behind the IPMC
    names, analog = {}, []
    for s in (sensors or {}).get("sensors", []):
        if s.get("name"):
            names.setdefault(s.get("kind"), s["name"])
            if s.get("kind") == "analog" and s["name"] not in analog:
                analog.append(s["name"])
    extra = [f"sensor {shlex.quote(n)}" for n in names.values()]
    extra += [f"threshold {shlex.quote(n)}" for n in analog]
    extra += ["--fru 2 devid", "--target 0x72 devid"]
    run_commands(args, checker, board, state, extra + PICMG.get(board, []))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--runner", required=True)
    parser.add_argument("--boards", required=True)
    parser.add_argument("--schema", required=True)
    args = parser.parse_args()
    with open(args.schema, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    checker = Checker(schema)
    with tempfile.TemporaryDirectory(prefix="hwboard-schema-") as tmp:
        for board in BOARDS:
            run_board(args, checker, board, os.path.join(tmp, board))
        for board in sorted(set(PICMG) - set(BOARDS)):
            run_commands(args, checker, board, os.path.join(tmp, board), PICMG[board])
        for n, (board, words) in enumerate(WRITES):
            run_commands(args, checker, board, os.path.join(tmp, f"write-{n}"), [words],
                         fresh=True)
    for p in checker.problems:
        print("FAIL", p)
    boards = set(BOARDS) | set(PICMG) | {board for board, _ in WRITES}
    print(f"{checker.checked} reports validated on {len(boards)} boards, "
          f"{checker.mutated} mutations, {len(checker.problems)} problems")
    return 1 if checker.problems or checker.checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
