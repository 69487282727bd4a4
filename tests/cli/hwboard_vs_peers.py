#!/usr/bin/env python3
"""hwboard's JSON reports against ipmitool on the same simulated board: sensors
(made into the library's listing for sensors_vs_ipmitool.py's comparison; raw
readings against the IPMC's answers in the trace) on rich.toml and the real SDR
set, FRU areas (fru_vs_peers.py's comparison) of its boards and the real FRU
images, the device ID against mc info, PICMG queries against ipmitool's. The
parts on real data are skipped (exit 77) when it is absent. TZ=UTC throughout.
"""
import argparse
import json
import os
import shlex
import subprocess
import sys
import tempfile
import tomllib

import fru_vs_peers
import picmg_clients
import sensors_vs_ipmitool as sensors_peer
from sdr_boards import SKIPPED, real_fru_images, real_set_board, records

DEVID_DIFFERENCES = {
    "firmware minor digits": "the library writes the firmware's minor revision byte in "
                             "hexadecimal without leading zero ('1.5' for 0x05), ipmitool "
                             "with two digits ('1.05')",
}
KINDS = ["none", "discrete", "analog", "event-only", "mc-locator", "fru-locator"]
STATES = ["not-determined", "ok", "non-critical", "critical", "non-recoverable"]
THRESHOLDS = ["lnc", "lc", "lnr", "unc", "uc", "unr"]
MARK = "@@@ "


def run_all(args, board, state, commands, trace=None, fresh=False):
    """{command: (standard output, status)} of `commands` (argument lists) run
    in one runner on `board`. Only hwboard's standard error is kept: a
    sanitizer's report there fails."""
    quiet = lambda c: "" if c[0].endswith("hwboard") else " 2>/dev/null"
    script = "\n".join(f"echo {shlex.quote(MARK + shlex.join(c))}; {shlex.join(c)}{quiet(c)};"
                       f" s=$?; echo; echo '{MARK}'$s" for c in commands)
    done = subprocess.run([args.runner, "--board", board, "--state", state]
                          + (["--trace", trace] if trace else []) + (["--fresh"] if fresh else [])
                          + ["--", "sh", "-c", script],
                          capture_output=True, timeout=240, check=False,
                          env=dict(os.environ, TZ="UTC"))
    for line in done.stderr.decode("latin-1").splitlines():
        if "Sanitizer" in line or "runtime error:" in line:
            raise SystemExit(f"FAIL {board}: {line}")
    got, name, lines = {}, None, []
    for line in done.stdout.decode("latin-1").split("\n"):
        if line.startswith(MARK) and name is not None:
            got[name], name = ("\n".join(lines[:-1]), int(line[len(MARK):])), None
        elif line.startswith(MARK):
            name, lines = line[len(MARK):], []
        else:
            lines.append(line)
    return {tuple(shlex.split(k)): v for k, v in got.items()}


def report(text, status, fail, what):
    """The JSON report of a run, or {}, failing."""
    try:
        return json.loads(text.encode("latin-1").decode("utf-8"))
    except ValueError as e:
        fail(f"{what}: status {status}, not JSON ({e}): {text[:200]!r}")
        return {}


def sensor_line(s):
    """A sensor of the report as sensor_list prints the library's record."""
    d = s["details"] or {}
    f = [f"0x{s['record_id']:04x}", str(KINDS.index(s["kind"])), f"0x{s['number']:02x}",
         str(int(s["valid"])), s["name"]]
    if s["kind"] == "analog":
        limits = [s["thresholds"][t] for t in THRESHOLDS]
        f += [str(int(s["available"])), f"{s['value'] or 0:.3f}", s["unit"],
              str(STATES.index(s["state"]) if s["state"] in STATES else -1),
              hex(sum(1 << i for i, v in enumerate(limits) if v is not None))]
        f += ["na" if v is None else f"{v:.3f}" for v in limits]
    elif s["kind"] == "discrete":
        f += [str(int(s["available"])), str(s["raw"]), f"0x{d['states'] >> 8:02x}",
              f"0x{d['states'] & 0xFF:02x}"]
    elif "entity_id" in d:
        f += [f"0x{d['entity_id']:02x}", str(d["entity_instance"])]
    return "|".join(f)


def sensors_part(args, tmp, failures, met):
    """Returns whether the real SDR set was there."""
    rich = os.path.join(args.boards, "rich.toml")
    with open(rich, "rb") as f:
        boards = [("rich.toml", rich, [bytes(r["record"]) for r in tomllib.load(f)["ipmc"]["sdr"]],
                   0x82)]
    real = os.path.join(tmp, "real-sdr.toml")
    dump = real_set_board(args.boards, args.data, real)
    if dump is not None:
        boards.append(("the real SDR set", real, [r for _, r in records(dump)], 0x20))
    commands = [(os.path.join(args.bin, "hwboard"), "--json", "sensors"),
                ("ipmitool", "-I", "open", "sdr", "elist", "all"),
                ("ipmitool", "-I", "open", "sensor")]
    for title, board, repository, ipmc in boards:
        trace = os.path.join(tmp, title + ".trace")
        ran = run_all(args, board, os.path.join(tmp, title), commands, trace)
        fail = lambda what, title=title: failures.append(f"{title}: {what}")
        if ran[commands[0]][1] != 0:
            fail(f"hwboard sensors ended with {ran[commands[0]][1]}")
        sensors = report(*ran[commands[0]], fail, "hwboard --json sensors").get("sensors", [])
        with open(trace, encoding="utf-8") as f:
            raw = {int(n, 16): int(r, 16) for n, r in sensors_peer.READING.findall(f.read())}
        sensors_peer.compare(repository, ipmc, [sensor_line(s) for s in sensors],
                             ran[commands[1]][0].splitlines(), ran[commands[2]][0].splitlines(),
                             raw, fail, lambda d, name, title=title: met.setdefault(d, []).append(
                                 f"{title} {name}"))
        for record, s in zip(repository, sensors):
            if s["kind"] == "analog" and s["available"] and record[5] == ipmc and \
                    s["raw"] != raw.get(record[7]):
                fail(f"{s['name']}: raw {s['raw']}, the IPMC's {raw.get(record[7])}")
        print(f"sensors, {title}: {len(sensors)} records compared")
    return dump is not None


def library_view(got):
    """A FRU report as fru_vs_peers reads fru_print's lines."""
    lib = {"board.mfg_minutes": str(got["board"].get("mfg_minutes", 0)),
           "board.mfg_date": got["board"].get("mfg_date", "")}
    for area, fields in (("board", fru_vs_peers.BOARD), ("product", fru_vs_peers.PRODUCT)):
        lib[area] = [str(got[area]["result"])]
        lib.update({f"{area}.{key}": got[area].get(key, "") for key, *_ in fields})
        lib[f"{area}.custom"] = [(c["type_length"], bytes.fromhex(c["hex"]))
                                 for c in got[area].get("custom", [])]
    return lib


def fru_part(args, tmp, failures, met):
    """Returns whether the real FRU images were there."""
    images = real_fru_images(args.data)
    hwboard = os.path.join(args.bin, "hwboard")
    count = 0
    for title, board, devices in fru_vs_peers.boards(args, tmp, images):
        ipmitool = lambda *words: ("ipmitool", "-I", "open", *words, "fru", "print")
        commands = {n: [(hwboard, "--json", "fru", str(n)), ipmitool("-v") + (str(n),),
                        ipmitool() + (str(n),)] for n in devices}
        ran = run_all(args, board, os.path.join(tmp, "fru " + title),
                      [c for n in sorted(devices) for c in commands[n]])
        for n, image in sorted(devices.items()):
            device = fru_vs_peers.Device(f"{title} FRU {n}", open(image, "rb").read())
            ours, verbose, plain = (ran[c] for c in commands[n])
            got = report(*ours, device.failures.append, f"{device.title}: hwboard --json fru")
            if got.get("fru_id") != n:
                device.failures.append(f"{device.title}: fru_id {got.get('fru_id')}")
            crashed = verbose[1] > 128 and "opalkelly_default.bin" in image
            if verbose[1] != 0 and not crashed:
                device.failures.append(f"{device.title}: ipmitool -v ended with {verbose[1]}")
            if got:
                device.compare_ipmitool(library_view(got), fru_vs_peers.ipmitool(
                    (plain if crashed else verbose)[0].splitlines()), crashed)
            failures += device.failures
            for named, where in device.met:
                met.setdefault(named, []).append(where)
            count += 1
    print(f"fru: {count} FRU devices compared")
    return images is not None


def devid_part(args, tmp, failures, met):
    """hwboard devid against ipmitool mc info, of the IPMC and of the
    controller behind it."""
    hwboard = os.path.join(args.bin, "hwboard")
    pairs = [((hwboard, "--json", "devid"), ("ipmitool", "-I", "open", "mc", "info"), 0),
             ((hwboard, "--json", "--target", "0x72", "devid"),
              ("ipmitool", "-I", "open", "-t", "0x72", "-b", "7", "mc", "info"), 0x72)]
    for name in ("default.toml", "rich.toml"):
        ran = run_all(args, os.path.join(args.boards, name), os.path.join(tmp, "devid " + name),
                      [c for pair in pairs for c in pair[:2]])
        for ours, theirs, target in pairs:
            title = f"{name} {' '.join(ours[1:])}"
            fail = lambda what, title=title: failures.append(f"{title}: {what}")
            got, (text, status) = report(*ran[ours], fail, "hwboard"), ran[theirs]
            shown = fru_vs_peers.ipmitool(" " + line for line in text.splitlines())
            value = lambda label: shown.get(label, [""])[0]
            if not got or status != 0:
                fail(f"hwboard {ran[ours][1]}, ipmitool {status}: {text!r}")
                continue
            firmware = lambda text: (text.partition(".")[0], int(text.partition(".")[2], 16))
            if got["firmware"] != value("Firmware Revision"):
                if firmware(got["firmware"]) == firmware(value("Firmware Revision")):
                    met.setdefault("firmware minor digits", []).append(title)
                else:
                    fail(f"firmware {got['firmware']}, ipmitool {value('Firmware Revision')}")
            aux = [int(b, 16) for b in text.split("Aux Firmware Rev Info")[-1].split()
                   if b.startswith("0x")]
            expected = {"target": target, "ipmi_version": value("IPMI Version"),
                        "manufacturer_id": int(value("Manufacturer ID") or -1),
                        "product_id": int(value("Product ID").split()[0] or -1),
                        "aux_firmware": aux[:2]}
            for key, theirs_value in expected.items():
                if got[key] != theirs_value:
                    fail(f"{key} {got[key]!r}, ipmitool {theirs_value!r}")
    print("devid: 4 reports compared")


def picmg_part(args, tmp, failures):
    """hwboard's PICMG reports against ipmitool's picmg queries: (hwboard's
    words, ipmitool's, and what to compare of the report and ipmitool's
    fields)."""
    hexa = lambda text: int(text.split()[0], 16)
    addr = lambda g, s: [(g[k], hexa(s[n])) for k, n in (
        ("hardware_address", "Hardware Address"), ("ipmb0_address", "IPMB-0 Address"),
        ("fru_id", "FRU ID"), ("site_id", "Site ID"))] + [(g["ipmbl_address"], (lambda ipml: int(
            ipml, 16) if ipml else None)(s["Site Type"].partition("IPMB-L Address: ")[2]))]
    led = lambda n: lambda g, s: [(g["leds"][n]["states"], hexa(s["LED states"])),
                                  (g["leds"][n]["local"]["colour"], hexa(s["Local Control Color"])),
                                  (g["leds"][n]["local"]["on_duration"],
                                   hexa(s["Local Control On-Duration"]))]
    port = lambda g, s: [(g["enabled"], s.get("STATE") == "enabled")] + (
        [((g["links"][0]["ports"], g["links"][0]["link_type"]),
          (hexa(s["Port Flag"]), hexa(s["Link Type"])))] if g["links"] else [])
    amc = lambda g, s: [((g["lanes"], g["group"], g["enabled"], g["protocol"].split(" - ")[0]),
                         (hexa(s["Port Flag"]), hexa(s["Link Grouping ID"]), s["STATE"] == "enabled",
                          picmg_clients.PROTOCOLS[s["Link Type"], s["Link Type Extension"]]))]
    cases = [(("picmg", "props"), ("picmg", "properties"),
              lambda g, s: [(g["max_fru_id"], hexa(s["Max FRU Device ID"]))])]
    cases += [(("picmg", "addr", *fru), ("picmg", "addrinfo", *fru), addr)
              for fru in ((), ("1",), ("2",))]
    cases += [((*target, "picmg", "led", fru), (*behind, "picmg", "led", "get", fru, str(n)), led(n))
              for target, behind, fru in (((), (), "0"), ((), (), "1"),
                                          (("--target", "0x72"), ("-t", "0x72", "-b", "7"), "0"))
              for n in range(4 if fru == "0" else 3)]
    cases += [(("picmg", "port", i, c), ("picmg", "portstate", "get", i, c), port)
              for i, c in (("0", "1"), ("0", "2"), ("1", "1"), ("2", "1"))]
    cases += [(("picmg", "amc", c, d), ("picmg", "amcportstate", "get", c, d), amc)
              for c, d in (("0", "0"), ("1", "0"), ("2", "0"), ("0", "1"))]
    hwboard = lambda words: (os.path.join(args.bin, "hwboard"), "--json", *words)
    tool = lambda words: ("ipmitool", "-I", "open", *words)
    ran = run_all(args, os.path.join(args.boards, "default.toml"), os.path.join(tmp, "picmg"),
                  list(dict.fromkeys(c for ours, theirs, _ in cases
                                     for c in (hwboard(ours), tool(theirs)))))
    for ours, theirs, compare in cases:
        got = report(*ran[hwboard(ours)], failures.append, " ".join(ours))
        shown = picmg_clients.fields(ran[tool(theirs)][0].splitlines())
        try:
            pairs = compare(got, shown)
        except (KeyError, IndexError, ValueError) as e:
            pairs = [(f"{e!r}", shown)]
        failures += [f"{' '.join(ours)}: hwboard {a!r}, ipmitool {b!r}" for a, b in pairs if a != b]
    print(f"picmg: {len(cases)} reports compared")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", required=True, help="hwsim")
    parser.add_argument("--bin", required=True, help="directory of hwboard")
    parser.add_argument("--boards", required=True, help="directory of the board files")
    parser.add_argument("--data", required=True, help="the shared data directory")
    args = parser.parse_args()
    failures, met = [], {}
    with tempfile.TemporaryDirectory(prefix="hwboard-peers-") as tmp:
        real_sdr = sensors_part(args, tmp, failures, met)
        real_fru = fru_part(args, tmp, failures, met)
        devid_part(args, tmp, failures, met)
        picmg_part(args, tmp, failures)
    named = {**sensors_peer.DIFFERENCES, **fru_vs_peers.DIFFERENCES, **DEVID_DIFFERENCES}
    print("named differences met:")
    for difference, where in met.items():
        print(f"  {difference} ({len(where)}): {named[difference]}")
        print(f"      {', '.join(where[:4])}{', ...' if len(where) > 4 else ''}")
    for failure in failures:
        print("FAIL", failure)
    print(f"{len(failures)} failed")
    if failures:
        return 1
    return 0 if real_sdr and real_fru else SKIPPED


if __name__ == "__main__":
    sys.exit(main())
