#!/usr/bin/env python3
"""Runs command-line cases against the simulated board and compares output.

A case file holds blocks. Each block starts with "## title" and gets a fresh
board state; inside it:

  @board NAME       board file (in the boards directory) for the block
  @env NAME=VALUE   environment for the block's commands
  @timeout SECONDS  each of the block's commands must end within SECONDS (else 120)
  $ PROGRAM ARGS    a command, run on the simulated board under hwsim
  $ trace REGEX     the block's driver trace lines that match REGEX
  [N]               the exit status the command before must end with (else 0)
  2> TEXT           a line the command before must write to standard error;
                    without such lines standard error is not compared

A command (trace too) may end in "| grep [-c] REGEX": only its output lines
that match REGEX are compared (with -c, their number). Instead it may end in ">/dev/full"
or ">&-": its standard output is /dev/full, or closed.

Every other line is expected standard output of the command above it. Log
time stamps are shown as "TIME" and
source line numbers in log headers as "LINE". Lines starting with "#" (one hash) are
comments. Blank lines that end a command's output only separate blocks; so blank
lines that end the output of a program not of this project are not compared (ipmitool
ends the empty answer of a raw request with one).
"""
import argparse
import os
import re
import shlex
import subprocess
import sys
import tempfile

TIME_STAMP = re.compile(r"^\d\d/\d\d/\d\d \d\d:\d\d:\d\d:\d{6}: ", re.M)
SOURCE_LINE = re.compile(r"(\.cpp)\(\d+ ")
SANITIZER_REPORT = re.compile(r"ERROR: (Address|Leak)Sanitizer|runtime error:")
PROJECT_PROGRAMS = {"hwregs", "hwboard", "sensor_list"}


class Block:
    def __init__(self, title):
        self.title = title
        self.board, self.env, self.steps = "default.toml", {}, []
        self.timeout = 120


def parse(path):
    blocks = []
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if line.startswith("## "):
                blocks.append(Block(line[3:]))
            elif line.startswith("#") or not blocks:
                continue
            elif line.startswith("@board "):
                blocks[-1].board = line.split(None, 1)[1]
            elif line.startswith("@timeout "):
                blocks[-1].timeout = int(line.split()[1])
            elif line.startswith("@env "):
                name, _, value = line.split(None, 1)[1].partition("=")
                blocks[-1].env[name] = value
            elif line.startswith("$ "):
                blocks[-1].steps.append(
                    {"cmd": line[2:], "out": [], "err": [], "rc": 0, "line": number})
            elif re.fullmatch(r"\[\d+\]", line) and blocks[-1].steps:
                blocks[-1].steps[-1]["rc"] = int(line[1:-1])
            elif line.startswith("2> ") and blocks[-1].steps:
                blocks[-1].steps[-1]["err"].append(line[3:])
            elif blocks[-1].steps:
                blocks[-1].steps[-1]["out"].append(line)
    for block in blocks:
        for step in block.steps:
            while step["out"] and not step["out"][-1]:
                step["out"].pop()
    return blocks


def uses_outside_programs(block):
    return any(shlex.split(s["cmd"])[0] not in PROJECT_PROGRAMS | {"trace"} for s in block.steps)


def split_command(words):
    """The program's words, then a filter of its output and where its
    standard output goes ("pipe", "full" or "closed")."""
    if "|" in words:
        at = words.index("|")
        grep = words[at + 1:]
        count = "-c" in grep
        pattern = re.compile([w for w in grep[1:] if w != "-c"][0])

        def matching(out):
            lines = [l for l in out.splitlines() if pattern.search(l)]
            return f"{len(lines)}\n" if count else "".join(l + "\n" for l in lines)
        return words[:at], matching, "pipe"
    if words[-1] in (">/dev/full", ">&-"):
        return words[:-1], None, "full" if words[-1] == ">/dev/full" else "closed"
    return words, None, "pipe"


def without_ending_blank_lines(out):
    text = out.rstrip("\n")
    return text + "\n" if text else ""


def run_step(args, block, step, state, trace):
    words, matching, stdout = split_command(shlex.split(step["cmd"]))
    if words[0] == "trace":
        pattern = re.compile(" ".join(words[1:]) or ".")
        text = open(trace, encoding="utf-8").read() if os.path.exists(trace) else ""
        out = "".join(l + "\n" for l in text.splitlines() if pattern.search(l))
        return (matching(out) if matching else out), 0, ""
    launcher = shlex.split(args.launcher)
    program = words[0]
    if program in PROJECT_PROGRAMS:
        program = os.path.join(args.bin, program)
    command = ([args.runner, "--board", os.path.join(args.boards, block.board),
                "--state", state, "--trace", trace, "--"]
               + (launcher if words[0] in PROJECT_PROGRAMS else []) + [program] + words[1:])
    env = dict(os.environ, **block.env)
    with open("/dev/full", "wb") as full:
        try:
            done = subprocess.run(
                command, env=env, stdin=subprocess.DEVNULL,
                stdout=subprocess.PIPE if stdout == "pipe" else full, stderr=subprocess.PIPE,
                preexec_fn=(lambda: os.close(1)) if stdout == "closed" else None,
                timeout=block.timeout, check=False)
        except subprocess.TimeoutExpired:
            return "", f"not ended after {block.timeout} s", ""
    out = (done.stdout or b"").decode(errors="replace")
    out = SOURCE_LINE.sub(r"\1(LINE ", TIME_STAMP.sub("TIME: ", out))
    if words[0] not in PROJECT_PROGRAMS:
        out = without_ending_blank_lines(out)
    if matching:
        out = matching(out)
    return out, done.returncode, done.stderr.decode(errors="replace")


def run_block(args, block):
    failures = []
    with tempfile.TemporaryDirectory(prefix="hwregs-cli-") as tmp:
        state, trace = os.path.join(tmp, "state"), os.path.join(tmp, "trace")
        for step in block.steps:
            out, rc, err = run_step(args, block, step, state, trace)
            expected = "".join(l + "\n" for l in step["out"])
            expected_err = "".join(l + "\n" for l in step["err"])
            if (out != expected or rc != step["rc"] or SANITIZER_REPORT.search(err)
                    or (step["err"] and err != expected_err)):
                failures.append((step, out, rc, err))
    return failures


def report(path, block, failures):
    for step, out, rc, err in failures:
        print(f"FAIL {path}:{step['line']}: {block.title}")
        print(f"  $ {step['cmd']}")
        print("  expected:", *[f"    {l}" for l in step["out"]], f"    [{step['rc']}]",
              *[f"    2> {l}" for l in step["err"]], sep="\n")
        print("  got:", *[f"    {l}" for l in out.splitlines()], f"    [{rc}]", sep="\n")
        if err.strip():
            print("  stderr:", *[f"    {l}" for l in err.splitlines()[-20:]], sep="\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="directory of hwregs and sensor_list")
    parser.add_argument("--runner", required=True, help="hwsim, a program of the host")
    parser.add_argument("--boards", required=True, help="directory of the board files")
    parser.add_argument("--launcher", default="", help="emulator prefix for target programs")
    parser.add_argument("cases", nargs="+")
    args = parser.parse_args()
    passed = failed = skipped = 0
    for path in args.cases:
        for block in parse(path):
            if args.launcher and uses_outside_programs(block):
                skipped += 1
                continue
            failures = run_block(args, block)
            report(path, block, failures)
            passed, failed = passed + (not failures), failed + bool(failures)
    print(f"{passed} passed, {failed} failed, {skipped} skipped (host programs under emulation)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
