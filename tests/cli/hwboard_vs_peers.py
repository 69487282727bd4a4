#!/usr/bin/env python3
"""hwboard's JSON reports against ipmitool on the same simulated board.

- `hwboard --json sensors` against `ipmitool -I open sensor` and `sdr elist
  all`, record by record, as sensors_vs_ipmitool.py compares the library's
  listing: the name, number and entity, whether there is a reading, the value
  within the rounding of both, the unit, the state against ipmitool's status,
  each threshold, a discrete sensor's state bytes; and hwboard's raw reading
  against the one the IPMC answered (from the trace). Boards: rich.toml and
  the real SDR set beside the repository.
- `hwboard --json fru N` against `ipmitool -I open -v fru print N`, field by
  field, with fru_vs_peers.py's comparison of the board and product areas:
  FRU 0 and 1 of default.toml and migrate.toml, and every real FRU image
  beside the repository as FRU 0.
- `hwboard --json devid` against `ipmitool mc info`, of the IPMC and of the
  controller behind it at 0x72, on default.toml and rich.toml.
- `hwboard --json picmg ...` against ipmitool's picmg queries on default.toml:
  properties, address info of every FRU, the LEDs of FRU 0 and 1 and of the
  controller behind the IPMC, backplane and AMC port states.

Where hwboard and ipmitool differ, the difference must be one named in
sensors_vs_ipmitool.DIFFERENCES, fru_vs_peers.DIFFERENCES or DEVID_DIFFERENCES
below, and is counted there. The parts on real data are skipped (exit 77, the
others still run) when that data is absent. TZ=UTC throughout.
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
STATES = ["not-determined", "ok", "non-critical", "critical", "non-recoverable"]
THRESHOLDS = ["lnc", "lc", "lnr", "unc", "uc", "unr"]
MARK = "@@@ "


def run_all(args, board, state, commands, trace=None):
    """{command: (standard output, status)} of `commands` (argument lists) run
    in one runner on `board`. Only hwboard's standard error is kept: a
    sanitizer's report there fails."""
    quiet = lambda c: "" if c[0].endswith("hwboard") else " 2>/dev/null"
    script = "\n".join(f"echo {shlex.quote(MARK + shlex.join(c))}; {shlex.join(c)}{quiet(c)};"
                       f" echo; echo '{MARK}'$?" for c in commands)
    done = subprocess.run([args.runner, "--board", board, "--state", state]
                          + (["--trace", trace] if trace else []) + ["--", "sh", "-c", script],
                          capture_output=True, timeout=240, check=False,
                          env=dict(os.environ, TZ="UTC"))
    for line in done.stderr.decode("latin-1").splitlines():
        if "Sanitizer" in line or "runtime error:" in line:
            raise SystemExit(f"FAIL {board}: {line}")
    got, name, lines = {}, None, []
    for line in done.stdout.decode("latin-1").split("\n"):
        if line.startswith(MARK) and name is not None:
            got[name] = ("\n".join(lines[:-1]), int(line[len(MARK):]))
            name = None
        elif line.startswith(MARK):
            name, lines = line[len(MARK):], []
        else:
            lines.append(line)
    return {tuple(shlex.split(k)): v for k, v in got.items()}


def report(text, status, fail, what):
    """The JSON report of a run, or None, failing."""
    try:
        return json.loads(text.encode("latin-1").decode("utf-8"))
    except ValueError as e:
        fail(f"{what}: status {status}, not JSON ({e}): {text[:200]!r}")
        return None


def compare_sensors(repository, ipmc, sensors, elist, sensor, raw, fail, met):
    """hwboard's sensors against ipmitool's `sdr elist all` and `sensor` lines."""
    fields = lambda lines: iter([[f.strip() for f in line.split("|")] for line in lines])
    elist, sensor = fields(elist), fields(sensor)
    if len(sensors) != len(repository):
        fail(f"{len(sensors)} records in the report, {len(repository)} in the repository")
    for record, s in zip(repository, sensors):
        record_type, body, name = record[3], record[5:], s["name"]
        expect = lambda what, ok, s=s: ok or fail(f"{s['name'] or s['record_id']}: {what}: {s}")
        expect("record ID", s["record_id"] == record[0] | record[1] << 8)
        if record_type not in sensors_peer.LISTED:
            met("not listed", str(s["record_id"]))
            expect("uninterpreted", s["kind"] == "none" and not s["valid"])
            continue
        shown = next(elist, None)
        if shown is None:
            fail("ipmitool sdr elist all ends before the repository")
            return
        if record_type == 0x01 and body[15] >> 6 != 3 and body[18] != 0:
            met("non-linear", shown[0])
            expect("not interpreted", (s["kind"], s["valid"], s["number"], name) ==
                   ("none", False, 0, ""))
            next(sensor, None)
            continue
        expect(f"name, ipmitool {shown[0]!r}", name == shown[0])
        expect(f"number, ipmitool {shown[1]}", s["number"] == int(shown[1][:-1], 16))
        details = s["details"]
        if record_type not in sensors_peer.SENSORS:
            expect(f"entity, ipmitool {shown[3]}",
                   shown[3] == f"{details.get('entity_id')}.{details.get('entity_instance')}")
            continue
        i = next(sensor, None)
        if i is None:
            fail("ipmitool sensor ends before the repository")
            return
        if body[0] != ipmc:
            met("other owner", name)
            expect("ipmitool without reading", i[1] == i[3] == "na" and set(i[4:]) == {"na"})
            expect("the IPMC's reading", s["available"])
            continue
        expect(f"kind {s['kind']}, ipmitool {i[2]!r}",
               (s["kind"] == "discrete") == (i[2] == "discrete"))
        if not expect(f"reading, ipmitool {i[1]}", s["available"] == (i[1] != "na")):
            continue
        if s["kind"] == "discrete":
            first, second = details["states"] >> 8, details["states"] & 0xFF
            expect(f"state bytes, ipmitool {i[1]} {i[3]}", not s["available"] or
                   (i[1], i[3]) == (f"0x{first:x}", f"0x{first:02x}{second:02x}"))
            continue
        if s["available"]:
            expect(f"raw reading, the IPMC's {raw.get(body[2])}", s["raw"] == raw.get(body[2]))
        if s["available"] and s["raw"] == 0 and (body[21] or body[22] >> 6):
            met("raw reading 0", name)
            expect("raw 0 not converted", s["value"] == 0.0)
        elif s["available"]:
            expect(f"value, ipmitool {i[1]}", sensors_peer.close(s["value"], i[1]))
        if (body[15] >> 1) & 3 == 2:
            met("unit a * b", name)
            i[2] = i[2].replace("*", " * ")
        expect(f"unit, ipmitool {i[2]!r}", s["unit"] == i[2])
        expect(f"state, ipmitool {i[3]}",
               s["state"] in STATES and STATES.index(s["state"]) == sensors_peer.SEVERITY[i[3]])
        for t, column in zip(THRESHOLDS, sensors_peer.THRESHOLD_COLUMNS):
            ours = s["thresholds"][t]
            expect(f"threshold {t}, ipmitool {i[column]}", (ours is not None) ==
                   (i[column] != "na") and (ours is None or sensors_peer.close(ours, i[column])))
    for rest, what in ((elist, "sdr elist all"), (sensor, "sensor")):
        for i in rest:
            fail(f"ipmitool {what} shows more records than the repository holds: {i}")


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
    hwboard = os.path.join(args.bin, "hwboard")
    for title, board, repository, ipmc in boards:
        trace = os.path.join(tmp, title + ".trace")
        commands = [(hwboard, "--json", "sensors"), ("ipmitool", "-I", "open", "sdr", "elist",
                                                    "all"), ("ipmitool", "-I", "open", "sensor")]
        ran = run_all(args, board, os.path.join(tmp, title), commands, trace)
        fail = lambda what, title=title: failures.append(f"{title}: {what}")
        got = report(*ran[commands[0]], fail, "hwboard --json sensors")
        if got is None:
            continue
        if ran[commands[0]][1] != 0:
            fail(f"hwboard sensors ended with {ran[commands[0]][1]}")
        with open(trace, encoding="utf-8") as f:
            raw = {int(n, 16): int(r, 16) for n, r in sensors_peer.READING.findall(f.read())}
        compare_sensors(repository, ipmc, got["sensors"], ran[commands[1]][0].splitlines(),
                        ran[commands[2]][0].splitlines(), raw, fail,
                        lambda d, name, title=title: met.setdefault(d, []).append(
                            f"{title} {name}"))
        print(f"sensors, {title}: {len(got['sensors'])} records compared")
    return dump is not None


def library_view(got):
    """A FRU report as fru_vs_peers reads fru_print's lines."""
    lib = {"board": [str(got["board"]["result"])], "product": [str(got["product"]["result"])]}
    for area, fields in (("board", fru_vs_peers.BOARD), ("product", fru_vs_peers.PRODUCT)):
        for key, *_ in fields:
            lib[f"{area}.{key}"] = got[area].get(key, "")
        lib[f"{area}.custom"] = [(c["type_length"], bytes.fromhex(c["hex"]))
                                 for c in got[area].get("custom", [])]
    lib["board.mfg_minutes"] = str(got["board"].get("mfg_minutes", 0))
    lib["board.mfg_date"] = got["board"].get("mfg_date", "")
    return lib


def fru_board(args, title, board, state, devices):
    """The FRU devices ({id: image}) of a board: hwboard against ipmitool -v."""
    hwboard = os.path.join(args.bin, "hwboard")
    commands = []
    for n in sorted(devices):
        commands += [(hwboard, "--json", "fru", str(n)),
                     ("ipmitool", "-I", "open", "-v", "fru", "print", str(n)),
                     ("ipmitool", "-I", "open", "fru", "print", str(n))]
    ran = run_all(args, board, state, commands)
    checked = []
    for n, image in sorted(devices.items()):
        device = fru_vs_peers.Device(f"{title} FRU {n}", open(image, "rb").read())
        checked.append(device)
        fail = device.failures.append
        ours, verbose, plain = (ran[c] for c in commands[3 * len(checked) - 3:3 * len(checked)])
        got = report(*ours, fail, f"{device.title}: hwboard --json fru")
        if got is None:
            continue
        if got["fru_id"] != n:
            fail(f"{device.title}: fru_id {got['fru_id']}")
        crashed = verbose[1] > 128 and "opalkelly_default.bin" in image
        if verbose[1] != 0 and not crashed:
            fail(f"{device.title}: ipmitool -v ended with {verbose[1]}")
        shown = fru_vs_peers.ipmitool((plain if crashed else verbose)[0].splitlines())
        device.compare_ipmitool(library_view(got), shown, crashed)
    return checked


def fru_part(args, tmp, failures, met):
    """Returns whether the real FRU images were there."""
    images = real_fru_images(args.data)
    devices = []
    for title, board, found in fru_vs_peers.boards(args, tmp, images):
        devices += fru_board(args, title, board, os.path.join(tmp, "fru " + title), found)
    for device in devices:
        failures += device.failures
        for named, where in device.met:
            met.setdefault(named, []).append(where)
    print(f"fru: {len(devices)} FRU devices compared")
    return images is not None


def devid_part(args, tmp, failures, met):
    """hwboard devid against ipmitool mc info, of the IPMC and of the
    controller behind it."""
    hwboard = os.path.join(args.bin, "hwboard")
    for name in ("default.toml", "rich.toml"):
        pairs = [((hwboard, "--json", "devid"), ("ipmitool", "-I", "open", "mc", "info")),
                 ((hwboard, "--json", "--target", "0x72", "devid"),
                  ("ipmitool", "-I", "open", "-t", "0x72", "-b", "7", "mc", "info"))]
        ran = run_all(args, os.path.join(args.boards, name), os.path.join(tmp, "devid " + name),
                      [c for pair in pairs for c in pair])
        for ours, theirs in pairs:
            title = f"{name} {' '.join(ours[1:])}"
            fail = lambda what, title=title: failures.append(f"{title}: {what}")
            got = report(*ran[ours], fail, "hwboard")
            shown = fru_vs_peers.ipmitool(" " + line for line in ran[theirs][0].splitlines())
            if got is None or ran[theirs][1] != 0:
                fail(f"hwboard {ran[ours][1]}, ipmitool {ran[theirs][1]}: {ran[theirs][0]!r}")
                continue
            value = lambda label: shown.get(label, [""])[0]
            major, _, minor = got["firmware"].partition(".")
            their_major, _, their_minor = value("Firmware Revision").partition(".")
            if got["firmware"] != value("Firmware Revision"):
                if (major, int(minor, 16)) == (their_major, int(their_minor, 16)):
                    met.setdefault("firmware minor digits", []).append(title)
                else:
                    fail(f"firmware {got['firmware']}, ipmitool {value('Firmware Revision')}")
            aux = [int(b, 16) for b in ran[theirs][0].split("Aux Firmware Rev Info")[-1].split()
                   if b.startswith("0x")]
            expected = {"ipmi_version": value("IPMI Version"),
                        "manufacturer_id": int(value("Manufacturer ID") or -1),
                        "product_id": int(value("Product ID").split()[0] or -1),
                        "aux_firmware": aux[:2]}
            for key, theirs_value in expected.items():
                if got[key] != theirs_value:
                    fail(f"{key} {got[key]!r}, ipmitool {theirs_value!r}")
            if got["target"] != int(ours[-2], 16) if "--target" in ours else got["target"] != 0:
                fail(f"target {got['target']}")
    print("devid: 4 reports compared")


def picmg_part(args, tmp, failures):
    """hwboard's PICMG reports against ipmitool's picmg queries."""
    hwboard = lambda *words: (os.path.join(args.bin, "hwboard"), "--json", "picmg", *words)
    tool = lambda *words: ("ipmitool", "-I", "open", *words)
    behind = ("-t", "0x72", "-b", "7")
    leds = [((), "0", ()), ((), "1", ()), (("--target", "0x72"), "0", behind)]
    ports = [("0", "1"), ("0", "2"), ("1", "1"), ("2", "1")]
    amcs = [("0", "0"), ("1", "0"), ("2", "0"), ("0", "1")]
    commands = [hwboard("props"), tool("picmg", "properties")]
    for fru in ((), ("1",), ("2",)):
        commands += [hwboard("addr", *fru), tool("picmg", "addrinfo", *fru)]
    for target, fru, tool_target in leds:
        commands.append((*hwboard("led", fru)[:2], *target, *hwboard("led", fru)[2:]))
        commands += [tool(*tool_target, "picmg", "led", "get", fru, str(led)) for led in range(4)]
    for interface, channel in ports:
        commands += [hwboard("port", interface, channel),
                     tool("picmg", "portstate", "get", interface, channel)]
    for channel, device in amcs:
        commands += [hwboard("amc", channel, device),
                     tool("picmg", "amcportstate", "get", channel, device)]
    ran = run_all(args, os.path.join(args.boards, "default.toml"), os.path.join(tmp, "picmg"),
                  commands)

    def check(what, got, want):
        if got != want:
            failures.append(f"picmg {what}: hwboard {got!r}, ipmitool {want!r}")

    def pair(ours, theirs):
        return (report(*ran[ours], failures.append, " ".join(ours[1:])),
                picmg_clients.fields(ran[theirs][0].splitlines()))

    got, shown = pair(hwboard("props"), tool("picmg", "properties"))
    check("max FRU ID", got["max_fru_id"], int(shown["Max FRU Device ID"], 16))
    for fru in ((), ("1",), ("2",)):
        got, shown = pair(hwboard("addr", *fru), tool("picmg", "addrinfo", *fru))
        for key, name in (("hardware_address", "Hardware Address"),
                          ("ipmb0_address", "IPMB-0 Address"), ("fru_id", "FRU ID"),
                          ("site_id", "Site ID")):
            check(f"addr {fru} {key}", got[key], int(shown[name], 16))
        ipml = shown["Site Type"].partition("IPMB-L Address: ")[2]
        check(f"addr {fru} IPMB-L", got["ipmbl_address"], int(ipml, 16) if ipml else None)
    for target, fru, tool_target in leds:
        ours = (*hwboard("led", fru)[:2], *target, *hwboard("led", fru)[2:])
        got = report(*ran[ours], failures.append, " ".join(ours[1:]))
        for led in got["leds"]:
            shown = picmg_clients.fields(ran[tool(*tool_target, "picmg", "led", "get", fru,
                                                  str(led["led"]))][0].splitlines())
            what = f"{' '.join(target)} LED {fru}/{led['led']}"
            check(what + " states", led["states"], int(shown["LED states"].split()[0], 16))
            check(what + " colour", led["local"]["colour"],
                  int(shown["Local Control Color"].split()[0], 16))
            check(what + " on-duration", led["local"]["on_duration"],
                  int(shown["Local Control On-Duration"], 16))
    for interface, channel in ports:
        got, shown = pair(hwboard("port", interface, channel),
                          tool("picmg", "portstate", "get", interface, channel))
        check(f"port {interface} {channel} enabled", got["enabled"],
              shown.get("STATE") == "enabled")
        if got["links"]:
            check(f"port {interface} {channel} link",
                  (got["links"][0]["ports"], got["links"][0]["link_type"]),
                  (int(shown["Port Flag"], 16), int(shown["Link Type"].split()[0], 16)))
    for channel, device in amcs:
        got, shown = pair(hwboard("amc", channel, device),
                          tool("picmg", "amcportstate", "get", channel, device))
        protocol = picmg_clients.PROTOCOLS[shown["Link Type"], shown["Link Type Extension"]]
        check(f"amc {channel} {device}",
              (got["lanes"], got["group"], got["enabled"], got["protocol"].split(" - ")[0]),
              (int(shown["Port Flag"], 16), int(shown["Link Grouping ID"], 16),
               shown["STATE"] == "enabled", protocol))
    print(f"picmg: {sum(c[0].endswith('hwboard') for c in commands)} reports compared")


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
    for difference, why in named.items():
        where = met.get(difference, [])
        if where:
            print(f"  {difference} ({len(where)}): {why}")
            print(f"      {', '.join(where[:4])}{', ...' if len(where) > 4 else ''}")
    for failure in failures:
        print("FAIL", failure)
    print(f"{len(failures)} failed")
    if failures:
        return 1
    return 0 if real_sdr and real_fru else SKIPPED


if __name__ == "__main__":
    sys.exit(main())
