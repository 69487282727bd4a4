"""What the client tests share: the records of an SDR dump, a board that
serves a real SDR set, one that serves a real FRU image, and a program run
on a board."""
import os
import re
import subprocess

SKIPPED = 77
REAL_SET = "sdr/openipmi/marvell-main.sdr.bin"
# What two independent tools showed of the set's BMC sensors on another
# simulator, and the raw readings it served them with.
REAL_SET_SEEN = "sdr/openipmi-sim"
REAL_FRU = "fru"


def records(dump):
    """(type, record bytes) of each record of an SDR dump."""
    at = 0
    while at < len(dump):
        size = 5 + dump[at + 4]
        yield dump[at + 3], dump[at:at + size]
        at += size


def real_set_board(boards, data, board):
    """Writes `board`: the default board with the real SDR set (119 records of
    another project's BMC) as its repository, the IPMC at the set's BMC
    address 0x20 (so that clients read those sensors directly; the other
    controllers' sensors time out) and the raw readings the other simulator
    served. Returns the set's bytes, or None, saying so, when the set does not
    lie beside the repository."""
    sdr_set, seen = os.path.join(data, REAL_SET), os.path.join(data, REAL_SET_SEEN)
    if not os.path.isfile(sdr_set) or not os.path.isdir(seen):
        print(f"skipped: no real SDR set at {sdr_set}")
        return None
    readings = re.findall(r"^sensor_set_value 0x20 0 (\d+) (0x[0-9a-f]+) 0$",
                          open(os.path.join(seen, "oracle.emu"), encoding="utf-8").read(), re.M)
    with open(board, "w", encoding="utf-8") as f:
        f.write(f'base = "{os.path.abspath(boards)}/default.toml"\n'
                f'name = "real-sdr"\n[ipmc]\nsdr_file = "{os.path.abspath(sdr_set)}"\n'
                # hundreds of bridged readings time out: at once here
                "ipmb_timeout_ms = 0\n"
                "[ipmc.picmg]\nipmb0_address = 0x20\n[ipmc.sensors]\n"
                + "".join(f"{n} = {{ reading = {v} }}\n" for n, v in readings))
    return open(sdr_set, "rb").read()


def real_fru_images(data):
    """The real FRU images beside the repository (another projects' data),
    sorted, or None, saying so, when there are none."""
    folder = os.path.join(data, REAL_FRU)
    images = sorted(os.path.join(d, f) for d, _, files in os.walk(folder)
                    for f in files if f.endswith(".bin"))
    if not images:
        print(f"skipped: no real FRU images under {folder}")
        return None
    return images


def real_fru_board(boards, image, board):
    """Writes `board`: the default board with the real FRU `image` as its FRU
    device 0 (the mezzanine's FRU 1 stays)."""
    with open(board, "w", encoding="utf-8") as f:
        f.write(f'base = "{os.path.abspath(boards)}/default.toml"\nname = "real-fru"\n'
                f'[[ipmc.fru]]\nid = 0\nimage = "{os.path.abspath(image)}"\n'
                f'[[ipmc.fru]]\nid = 1\nimage = "{os.path.abspath(boards)}/fru/default-1.bin"\n')


def run(runner, board, state, *command):
    """Standard output lines, exit status and standard error of `command` on the board."""
    done = subprocess.run([runner, "--board", board, "--state", state, "--", *command],
                          capture_output=True, text=True, timeout=120, check=False)
    return done.stdout.splitlines(), done.returncode, done.stderr
