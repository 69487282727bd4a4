#!/usr/bin/env python3
"""The library, as hwboard's JSON reports show it, against ipmitool and FreeIPMI
on the same simulated board: the one comparison with the peers.

- sensors (sensors_vs_ipmitool.py's comparison, the report made into the lines
  of the library's listing; raw readings against the IPMC's answers in the
  trace) on rich.toml, on rich.toml with readings at the edges (upper
  non-critical and non-recoverable, a raw 0 where B is not 0, a discrete
  sensor without reading, a second state byte) and on the real SDR set;
- FRU areas, multirecords and the MAC address (fru_vs_peers.py's comparison,
  with ipmitool and FreeIPMI) of the boards' FRUs and the real FRU images;
- the device ID against mc info, of the IPMC and of the controller behind it
  by address and by FRU, and nobody at an address;
- PICMG queries against ipmitool's, also through the controller behind the
  IPMC, and on picmg-quirks.toml the answers ipmitool decodes otherwise.

Where hwboard and a peer differ, the difference must be one named in a
DIFFERENCES table, and is counted there. The parts on real data are skipped
(exit 77) when it is absent. TZ=UTC throughout.
"""
import argparse
import json
import os
import re
import shlex
import subprocess
import sys
import tempfile
import tomllib

import fru_vs_peers
import sensors_vs_ipmitool as sensors_peer
from sdr_boards import SKIPPED, real_fru_images, real_set_board, records

DEVID_DIFFERENCES = {
    "firmware minor digits": "the library writes the firmware's minor revision byte in "
                             "hexadecimal without leading zero ('1.5' for 0x05), ipmitool "
                             "with two digits ('1.05')",
}
PICMG_DIFFERENCES = {
    "AMC site 9": "ipmitool maps AMC site 9 through a table of its own to IPMB-L 0x82; the "
                  "library has no address for it (22) and keeps its target",
    "colour codes": "ipmitool prints unknown LED colour codes as invalid; the library prints "
                    "them as codes",
    "AMC link types": "ipmitool mixes the two halves of an AMC link type byte into a known "
                      "name; the library knows no such link type",
}
# ipmitool's link type and extension texts, and the library's protocol text
# of the same AMC link (a PCI Express width follows it).
PROTOCOLS = {
    ("PCI EXPRESS", "Gen 1 - SSC"): "PCIe Gen1 SSC",
    ("PCI EXPRESS", "Gen 2 - NSSC"): "PCIe Gen2 NSSC",
    ("ETHERNET", "1000BASE-BX (SerDES Gigabit)"): "Ethernet 1000 Base-BX",
    ("STORAGE", "Serial ATA"): "Storage Serial ATA",
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


def fields(lines):
    """{name: value} of ipmitool's "name: value" lines, names and values stripped."""
    pairs = (re.split(r"\s*:\s*", line.strip(), maxsplit=1) for line in lines if ":" in line)
    return {name: value for name, value in pairs}


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
    edges = os.path.join(tmp, "edges.toml")
    with open(edges, "w", encoding="utf-8") as f:
        f.write(f'base = "{os.path.abspath(rich)}"\nname = "rich-edges"\n[ipmc.sensors]\n'
                "0x01 = { reading = 61 }\n"  # Temp Inlet at its upper non-recoverable
                "0x04 = { reading = 0 }\n"  # Temp Remote: M -1, B 150
                "0x06 = { reading = 144 }\n"  # 12V Main: 12.304 V, upper non-critical
                "0x0C = { states = [0x01, 0x42] }\n"  # Slot Present
                "0x0E = { unavailable = true }\n")  # Power Good
    with open(rich, "rb") as f:
        repository = [bytes(r["record"]) for r in tomllib.load(f)["ipmc"]["sdr"]]
    boards = [("rich.toml", rich, repository, 0x82),
              ("rich.toml at the edges", edges, repository, 0x82)]
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


def fru_part(args, tmp, failures, met):
    """Returns whether the real FRU images were there."""
    images = real_fru_images(args.data)
    hwboard = os.path.join(args.bin, "hwboard")
    ipmitool = lambda *words: ("ipmitool", "-I", "open", *words, "fru", "print")
    mac = (hwboard, "--json", "mac")
    count = 0
    for title, board, devices in fru_vs_peers.boards(args, tmp, images):
        commands = {n: [(hwboard, "--json", "fru", str(n)), ipmitool("-v") + (str(n),),
                        ipmitool() + (str(n),)] for n in devices}
        ran = run_all(args, board, os.path.join(tmp, "fru " + title),
                      [c for n in sorted(devices) for c in commands[n]] + [mac])
        for n, image in sorted(devices.items()):
            device = fru_vs_peers.Device(f"{title} FRU {n}", open(image, "rb").read())
            ours, verbose, plain = (ran[c] for c in commands[n])
            got = report(*ours, device.failures.append, f"{device.title}: hwboard --json fru")
            if got.get("fru_id") != n:
                device.failures.append(f"{device.title}: fru_id {got.get('fru_id')}")
            else:
                fru_mac = report(*ran[mac], device.failures.append, "hwboard --json mac")
                fru_vs_peers.compare(device, image, got, verbose, plain,
                                     fru_mac.get("fru", {}) if n == 0 else None)
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
              ("ipmitool", "-I", "open", "-t", "0x72", "-b", "7", "mc", "info"), 0x72),
             ((hwboard, "--json", "--fru", "2", "devid"),
              ("ipmitool", "-I", "open", "-t", "0x72", "-b", "7", "mc", "info"), 0x72)]
    # Nobody at 0x74: ipmitool's Get Device ID times out, the library's gives -4 (0xC3).
    nobody = [("sh", "-c", f"{hwboard} --target 0x74 devid 2>&1"),
              ("sh", "-c", "ipmitool -I open -t 0x74 -b 7 mc info 2>&1")]
    for name in ("default.toml", "rich.toml"):
        ran = run_all(args, os.path.join(args.boards, name), os.path.join(tmp, "devid " + name),
                      list(dict.fromkeys(c for pair in pairs for c in pair[:2])) + nobody)
        if "(result -4)" not in ran[nobody[0]][0] or "Timeout" not in ran[nobody[1]][0]:
            failures.append(f"{name}: nobody at 0x74: {ran[nobody[0]]}, {ran[nobody[1]]}")
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
    print(f"devid: {2 * len(pairs)} reports compared")


def picmg_part(args, tmp, failures, met):
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
                          PROTOCOLS[s["Link Type"], s["Link Type Extension"]]))]
    cases = [(("picmg", "props"), ("picmg", "properties"),
              lambda g, s: [(g["max_fru_id"], hexa(s["Max FRU Device ID"]))])]
    cases += [(("picmg", "addr", *fru), ("picmg", "addrinfo", *fru), addr)
              for fru in ((), ("1",), ("2",))]
    # The LEDs a FRU answers against its LED properties (the library's result is -1
    # where one is missing), each LED's state and default colour.
    general = lambda s: int(s["General Status LED Properties"].replace(" ", ""), 16)
    answered = lambda g, s: [(sum(1 << led["led"] for led in g["leds"]), general(s)),
                             (g["result"], 0 if general(s) == 0xF else -1)]
    colour = lambda n: lambda g, s: [(g["leds"][n]["colour_name"], s["LOCAL control"])]
    behind = ("-t", "0x72", "-b", "7")
    leds = (((), (), "0", 4), ((), (), "1", 3), (("--target", "0x72"), behind, "0", 4),
            (("--fru", "2"), behind, "0", 4))
    for target, tool_target, fru, count in leds:
        ours = (*target, "picmg", "led", fru)
        cases += [(ours, (*tool_target, "picmg", "led", "prop", fru), answered)]
        cases += [(ours, (*tool_target, "picmg", "led", kind, fru, str(n)), compare(n))
                  for n in range(count) for kind, compare in (("get", led), ("cap", colour))]
    cases += [(("picmg", "port", i, c), ("picmg", "portstate", "get", i, c), port)
              for i, c in (("0", "1"), ("0", "2"), ("1", "1"), ("2", "1"), ("1", "5"))]
    cases += [((*target, "picmg", "amc", c, d), (*tool_target, "picmg", "amcportstate", "get", c,
                                                 d), amc)
              for target, tool_target, c, d in (((), (), "0", "0"), ((), (), "1", "0"),
                                                ((), (), "2", "0"), ((), (), "0", "1"),
                                                (("--fru", "2"), behind, "1", "0"))]
    hwboard = lambda words: (os.path.join(args.bin, "hwboard"), "--json", *words)
    tool = lambda words: ("ipmitool", "-I", "open", *words)
    ran = run_all(args, os.path.join(args.boards, "default.toml"), os.path.join(tmp, "picmg"),
                  list(dict.fromkeys(c for ours, theirs, _ in cases
                                     for c in (hwboard(ours), tool(theirs)))))
    for ours, theirs, compare in cases:
        got = report(*ran[hwboard(ours)], failures.append, " ".join(ours))
        shown = fields(ran[tool(theirs)][0].splitlines())
        try:
            pairs = compare(got, shown)
        except (KeyError, IndexError, ValueError) as e:
            pairs = [(f"{e!r}", shown)]
        failures += [f"{' '.join(ours)}: hwboard {a!r}, ipmitool {b!r}" for a, b in pairs if a != b]
    print(f"picmg: {len(cases)} reports compared")
    quirks_part(args, tmp, failures, met)


def quirks_part(args, tmp, failures, met):
    """Where ipmitool decodes a PICMG answer of picmg-quirks.toml otherwise than
    the library is specified to: hwboard's reading is checked, ipmitool's named."""
    hwboard = os.path.join(args.bin, "hwboard")
    tool = lambda *words: ("ipmitool", "-I", "open", "picmg", *words)
    commands = [("sh", "-c", f"{hwboard} --fru 3 devid 2>&1"), tool("addrinfo", "3"),
                (hwboard, "--json", "picmg", "led", "3")]
    commands += [tool("led", "get", "3", str(n)) for n in range(4)]
    commands += [c for n in "012" for c in ((hwboard, "--json", "picmg", "amc", n, "0"),
                                             tool("amcportstate", "get", n, "0"))]
    ran = run_all(args, os.path.join(args.boards, "picmg-quirks.toml"),
                  os.path.join(tmp, "quirks"), commands)
    shown = lambda command: fields(ran[command][0].splitlines())

    def check(named, ours, want_ours, theirs, want_theirs):
        if (ours, theirs) == (want_ours, want_theirs):
            met.setdefault(named, []).append(f"{want_ours} / {want_theirs}")
        else:
            failures.append(f"quirks, {named}: hwboard {ours!r}, ipmitool {theirs!r}")

    check("AMC site 9", ran[commands[0]][0].strip(),
          "hwboard: devid: finding the FRU's controller failed (result 22)",
          shown(commands[1]).get("Site Type"), "AMC  -> IPMB-L Address: 0x82")
    got = report(*ran[commands[2]], failures.append, "picmg led 3").get("leds", [])
    for n, ours, theirs in ((0, "0x09", "9  [invalid]"), (1, "reserved", "7  [reserved]"),
                            (2, "0x0f", "f  [invalid]"), (3, "reserved", "0  [reserved]")):
        check("colour codes", got[n]["colour_name"] if n < len(got) else None, ours,
              shown(tool("led", "get", "3", str(n))).get("Local Control Color"), theirs)
    for n, theirs in (("0", "ADVANCED SWITCHING1"), ("1", "STORAGE"), ("2", "ETHERNET")):
        got = report(*ran[(hwboard, "--json", "picmg", "amc", n, "0")], failures.append, "amc")
        check("AMC link types", got.get("protocol"), "Unknown protocol",
              shown(tool("amcportstate", "get", n, "0")).get("Link Type"), theirs)


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
        picmg_part(args, tmp, failures, met)
    named = {**sensors_peer.DIFFERENCES, **fru_vs_peers.DIFFERENCES, **DEVID_DIFFERENCES,
             **PICMG_DIFFERENCES}
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
