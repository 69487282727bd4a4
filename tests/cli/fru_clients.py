#!/usr/bin/env python3
"""ipmitool's FRU writes on the simulated board, and its FRU reads of real images.

  state   a write lasts into the next run, --fresh puts the board's image back;
          a runner killed with SIGKILL in the middle of a loop of writes leaves
          a FRU that the next run reads with every answered write in it
  real    `fru print` of every real FRU image beside the repository (another
          projects' data, skipped without it), each as FRU 0, ends in time;
          which ones ipmitool fails or crashes on is said, not failed
"""
import argparse
import os
import signal
import subprocess
import sys
import tempfile
import time

import sdr_boards

SKIPPED = 77
INTERNAL_USE = 9  # the default board's FRU 0: its internal use area's data from here
KILL_WRITES = 200


def raw(*numbers):
    return ["ipmitool", "-I", "open", "raw", *(hex(n) for n in numbers)]


def read_fru(runner, board, state, fru, at, count, fresh=False):
    """`count` bytes of a FRU from `at`, read in pieces."""
    got = []
    while len(got) < count:
        piece = min(32, count - len(got))
        offset = at + len(got)
        out, status, err = sdr_boards.run(runner, board, state,
                                          *raw(0x0A, 0x11, fru, offset & 0xFF, offset >> 8, piece),
                                          fresh=fresh)
        if status != 0:
            raise RuntimeError(f"read of FRU {fru} at {offset} failed: {err}")
        got += [int(b, 16) for b in " ".join(out).split()[1:]]
    return got


def state(args, work):
    failures = []
    board = os.path.join(args.boards, "default.toml")
    image = list(open(os.path.join(args.boards, "fru", "default-0.bin"), "rb").read())
    st = os.path.join(work, "state")
    sdr_boards.run(args.runner, board, st, *raw(0x0A, 0x12, 0, INTERNAL_USE, 0, 0xAA, 0xBB),
                   fresh=True)
    if read_fru(args.runner, board, st, 0, INTERNAL_USE, 2) != [0xAA, 0xBB]:
        failures.append("a FRU write is not there in the next run")
    if read_fru(args.runner, board, st, 0, INTERNAL_USE, 2, fresh=True) != image[9:11]:
        failures.append("--fresh does not put the board's FRU image back")

    # Byte n of FRU 0 gets n XOR 0x5A, one ipmitool a write; the runner is
    # killed once some have been answered, long before the last.
    loop = ("i=0; while [ $i -lt %d ]; do ipmitool -I open raw 0x0a 0x12 0 $i 0 $((i ^ 0x5a)) "
            ">/dev/null || exit 1; echo $i; i=$((i + 1)); done" % KILL_WRITES)
    run = subprocess.Popen([args.runner, "--board", board, "--state", st, "--fresh", "--",
                            "sh", "-c", loop], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                           text=True)
    answered = -1
    deadline = time.monotonic() + 60
    while answered < 20 and time.monotonic() < deadline:
        line = run.stdout.readline()
        if not line:
            break
        answered = int(line)
    run.send_signal(signal.SIGKILL)
    run.wait()
    answered = max([answered] + [int(n) for n in run.stdout.read().split()]) + 1
    if not 0 < answered < KILL_WRITES:
        failures.append(f"the kill did not land in the middle: {answered} writes answered")
    back = read_fru(args.runner, board, st, 0, 0, answered)
    for n, value in enumerate(back):
        if value != n ^ 0x5A:
            failures.append(f"FRU 0 byte {n} lost its answered write 0x{n ^ 0x5A:02x}: 0x{value:02x}")
    print(f"{answered} FRU writes answered before the kill, all read back" if not failures else "")
    return failures


def real(args, work):
    images = sdr_boards.real_fru_images(args.data)
    if images is None:
        return None
    failures = []
    board = os.path.join(work, "real-fru.toml")
    for image in images:
        sdr_boards.real_fru_board(args.boards, image, board)
        name = os.path.relpath(image, os.path.join(args.data, sdr_boards.REAL_FRU))
        seen = []
        for verbose in ([], ["-v"]):
            command = ["ipmitool", "-I", "open", *verbose, "fru", "print", "0"]
            try:
                out, status, err = sdr_boards.run(args.runner, board, os.path.join(work, "real"),
                                                  *command, timeout=30)
            except subprocess.TimeoutExpired:
                failures.append(f"{name}: {' '.join(command)} did not end within 30 s")
                continue
            last = (err.strip().splitlines() or [""])[-1]
            seen.append(" ".join(verbose + [
                f"crashed ({signal.Signals(status - 128).name})" if status > 128
                else f"failed ({status}): {last}" if status else f"{len(out)} lines"]))
        print(f"{name}: {', '.join(seen)}")
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("test", choices=["state", "real"])
    parser.add_argument("--runner", required=True, help="hwsim")
    parser.add_argument("--boards", required=True, help="directory of the board files")
    parser.add_argument("--data", required=True, help="the data beside the repository")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        failures = (state if args.test == "state" else real)(args, work)
    if failures is None:
        return SKIPPED
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
