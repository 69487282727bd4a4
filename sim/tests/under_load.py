#!/usr/bin/env python3
"""The simulated board's state under load, end to end with the real runner.

  writers   20 `hwregs write` processes started at once on different registers
            of one state directory (ten runners of their own, ten programs of
            one runner) all land.
  kill      a runner killed with SIGKILL in the middle of a run of writes
            leaves a board that the next run reads, with every write that was
            answered present.
"""
import argparse
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import time

FIRST = 0x40  # registers 0x40-0x53 are added to the default board for this


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("test", choices=["writers", "kill"])
    parser.add_argument("--bin", required=True)
    parser.add_argument("--boards", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--runner", required=True, help="hwsim")
    parser.add_argument("--launcher", default="", help="emulator prefix for target programs")
    args = parser.parse_args()
    work = os.path.join(args.work, args.test)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    board = os.path.join(work, "board.toml")
    with open(board, "w", encoding="utf-8") as f:
        f.write(f'base = "{args.boards}/default.toml"\nname = "load"\n[cpld.registers]\n')
        for offset in range(FIRST, FIRST + 20):
            f.write(f"0x{offset:02x} = {{ reset = 0 }}\n")
    state = os.path.join(work, "state")
    launcher = shlex.split(args.launcher)

    def runner(*command, fresh=False):
        return ([args.runner, "--board", board, "--state", state]
                + (["--fresh"] if fresh else []) + ["--"] + list(command))

    def program(name, *words):
        return launcher + [os.path.join(args.bin, name)] + [str(w) for w in words]

    subprocess.run(runner("true", fresh=True), check=True)
    failures = (writers if args.test == "writers" else kill)(runner, program, state)
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


def writers(runner, program, state):
    values = {FIRST + i: 0xA0 + i for i in range(20)}
    own = [subprocess.Popen(runner(*program("hwregs", "write", hex(o), hex(v))))
           for o, v in list(values.items())[:10]]
    shared_words = " ".join(shlex.quote(shlex.join(program("hwregs", "write", hex(o), hex(v))))
                            for o, v in list(values.items())[10:])
    shared = subprocess.Popen(runner("sh", "-c", f"for c in {shared_words}; do eval \"$c\" & done; wait"))
    failures = [f"a writer exited {p.wait()}" for p in own + [shared] if p.wait() != 0]
    out = subprocess.run(runner(*program("hwregs", "read", *map(hex, values))), check=True,
                         capture_output=True, text=True).stdout
    for offset, value in values.items():
        if f"reg: 0x{offset:02x}    value: 0x{value:02x}" not in out:
            failures.append(f"register 0x{offset:02x} is not 0x{value:02x}:\n{out}")
    return failures


def kill(runner, program, state):
    # Eight passes over the 1024 DCRs, each write a value of its own; the
    # runner is killed once some have landed, long before the last.
    sent = [(n, (rank << 16) | (n + 1)) for rank in range(8) for n in range(1024)]
    writes = [w for n, value in sent for w in (9, n, value)]
    run = subprocess.Popen(runner(*program("hwsim_probe", *writes)), stdout=subprocess.PIPE,
                           text=True)
    log = os.path.join(state, "board.state")
    deadline = time.monotonic() + 60
    while os.path.getsize(log) < 10000 and run.poll() is None and time.monotonic() < deadline:
        time.sleep(0.001)
    run.send_signal(signal.SIGKILL)
    run.wait()
    out = run.stdout.read()  # until the program, left without its runner, ends
    answered = len(re.findall(r"code=9 ret=0 errno=0 rc=0", out))
    failures = []
    if not 0 < answered < len(sent):
        failures.append(f"the kill did not land in the middle: {answered} writes answered")
    # Each DCR holds its last answered value, or the next write's if that one
    # landed without its answer.
    last = dict(sent[:answered])
    next_write = sent[answered] if answered < len(sent) else None
    reads = [w for n in last for w in (8, n, 0)]
    back = subprocess.run(runner(*program("hwsim_probe", *reads)), check=True,
                          capture_output=True, text=True).stdout
    got = {int(n, 16): int(v, 16) for n, v in re.findall(
        r"code=8 ret=0 errno=0 rc=0 param0=(0x[0-9a-f]+) param1=(0x[0-9a-f]+)", back)}
    for n, value in last.items():
        if got.get(n) != value and (n, got.get(n)) != next_write:
            failures.append(f"DCR 0x{n:03x} lost its answered write 0x{value:x}")
    print(f"{answered} writes answered before the kill, all read back" if not failures else "")
    return failures


if __name__ == "__main__":
    sys.exit(main())
