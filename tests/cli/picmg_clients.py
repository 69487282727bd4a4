#!/usr/bin/env python3
"""ipmitool's picmg commands and `mc info` through IPMB-L against the library.

On the simulated board, ipmitool's PICMG queries and its `mc info` of the
controller behind the IPMC (`-t ADDRESS -b 7`) must show what the library
reads (picmg_show, a C program on its public API), also after the library
pointed its interface at that controller by address and by FRU. Where
ipmitool decodes an answer otherwise than the library is specified to, the
library's reading is checked and ipmitool's named as a difference.
"""
import argparse
import re
import subprocess
import sys
import tempfile

# ipmitool's link type and extension texts, and the library's protocol text
# of the same AMC link (a PCI Express width follows it).
PROTOCOLS = {
    ("PCI EXPRESS", "Gen 1 - SSC"): "PCIe Gen1 SSC",
    ("PCI EXPRESS", "Gen 2 - NSSC"): "PCIe Gen2 NSSC",
    ("ETHERNET", "1000BASE-BX (SerDES Gigabit)"): "Ethernet 1000 Base-BX",
    ("STORAGE", "Serial ATA"): "Storage Serial ATA",
}
LED_FUNCTIONS = {"OFF": "0", "ON": "1", "BLINKING": "2"}


def fields(lines):
    """{name: value} of "name: value" lines, names and values stripped."""
    pairs = (re.split(r"\s*:\s*", line.strip(), maxsplit=1) for line in lines if ":" in line)
    return {name: value for name, value in pairs}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", required=True, help="hwsim")
    parser.add_argument("--boards", required=True, help="directory of the board files")
    parser.add_argument("--show", required=True, help="picmg_show")
    args = parser.parse_args()
    failures = []

    def run(board, *command):
        with tempfile.TemporaryDirectory(prefix="hwregs-picmg-") as state:
            done = subprocess.run([args.runner, "--board", f"{args.boards}/{board}", "--state",
                                   state, "--", *command], capture_output=True, text=True,
                                  timeout=120, check=False)
        return done.stdout.splitlines()

    def ipmitool(board, *words):
        return fields(run(board, "ipmitool", "-I", "open", *words))

    def library(board, *words):
        return fields(run(board, args.show, *words))

    def check(what, got, want):
        if got != want:
            failures.append(f"{what}:\n  expected {want!r}\n  got      {got!r}")

    board = "default.toml"
    check("max FRU ID", library(board, "props")["max_fru_id"],
          ipmitool(board, "picmg", "properties")["Max FRU Device ID"])

    for fru in ([], ["1"], ["2"]):
        tool, lib = ipmitool(board, "picmg", "addrinfo", *fru), library(board, "addr", *fru)
        for name, key in (("Hardware Address", "hw_addr"), ("IPMB-0 Address", "ipmb_addr"),
                          ("FRU ID", "fru_id"), ("Site ID", "site_id")):
            check(f"addrinfo {fru}: {name}", lib[key], tool[name])
        ipml = re.search(r"IPMB-L Address: (0x..)", tool["Site Type"])
        check(f"addrinfo {fru}: IPMB-L address", lib.get("ipml_addr") if ipml else None,
              ipml and ipml[1])

    # LEDs 0 to 3 of FRU 0, of FRU 1 (which lacks LED 3: the library says -1)
    # and of the controller behind the IPMC, reached by address and by FRU.
    behind = ["-t", "0x72", "-b", "7"]
    for target, fru, tool_target in (([], "0", []), ([], "1", []), (["-t", "0x72"], "0", behind),
                                     (["-f", "2"], "0", behind)):
        lib = library(board, *target, "led", fru)
        props = ipmitool(board, *tool_target, "picmg", "led", "prop", fru)
        general = int(props["General Status LED Properties"].replace(" ", ""), 16)
        answered = sum(1 << led for led in range(4) if f"id={led} " in lib[f"led {led}"])
        check(f"{target} FRU {fru}: LEDs answered", answered, general)
        check(f"{target} FRU {fru}: result", lib["result"], "0" if general == 0xF else "-1")
        for led in range(4):
            if general >> led & 1 == 0:
                continue
            tool = ipmitool(board, *tool_target, "picmg", "led", "get", fru, str(led))
            colour = re.fullmatch(r"\w+\s+\[(\w+)\]", tool["Local Control Color"])[1]
            function = re.search(r"\[(\w+)\]", tool["Local Control function"])[1]
            check(f"{target} FRU {fru} LED {led}", lib[f"led {led}"],
                  f"id={led} states=0x{int(tool['LED states'].split()[0], 16):02x} "
                  f"function={LED_FUNCTIONS[function]} color={colour}")
            cap = ipmitool(board, *tool_target, "picmg", "led", "cap", fru, str(led))
            check(f"{target} FRU {fru} LED {led}: default colour", colour, cap["LOCAL control"])

    for interface, channel in (("0", "1"), ("0", "2"), ("1", "1"), ("2", "1"), ("1", "5")):
        tool = ipmitool(board, "picmg", "portstate", "get", interface, channel)
        check(f"portstate {interface} {channel}",
              library(board, "port", interface, channel)["enabled"],
              "1" if tool.get("STATE") == "enabled" else "0")

    for target, tool_target, channel, device in (([], [], "0", "0"), ([], [], "1", "0"),
                                                 ([], [], "2", "0"), ([], [], "0", "1"),
                                                 (["-f", "2"], behind, "1", "0")):
        tool = ipmitool(board, *tool_target, "picmg", "amcportstate", "get", channel, device)
        lib = library(board, *target, "amc", channel, device)
        check(f"AMC port {target} {channel} {device}",
              (lib["lanes"], lib["group_id"], lib["enabled"],
               lib["protocol"].split(" - ")[0]),
              (tool["Port Flag"], tool["Link Grouping ID"],
               "1" if tool["STATE"] == "enabled" else "0",
               PROTOCOLS[tool["Link Type"], tool["Link Type Extension"]]))

    # The controller behind the IPMC: by address and by the FRU of its AMC site.
    tool = ipmitool(board, "-t", "0x72", "-b", "7", "mc", "info")
    for target in (["-t", "0x72"], ["-f", "2"]):
        lib = library(board, *target, "devid")
        check(f"{target}: target", lib["target"], "0 0x72 7")
        check(f"{target}: mc info",
              (lib["fw_version"], lib["ipmi_version"], lib["manufacturer_id"],
               lib["product_id"], lib["result"]),
              (tool["Firmware Revision"], tool["IPMI Version"], tool["Manufacturer ID"],
               tool["Product ID"].split()[0], "0"))
    # Nobody at 0x74: ipmitool's Get Device ID times out, the library's gives -4 (0xC3).
    timed_out = run(board, "sh", "-c", "ipmitool -I open -t 0x74 -b 7 mc info 2>&1")
    check("nobody at 0x74", library(board, "-t", "0x74", "devid")["result"],
          "-4" if "Get Device ID command failed: Timeout" in timed_out else timed_out)

    # Where ipmitool departs from the library's specified decoding: (what the
    # library shows, what ipmitool shows), each as expected.
    quirks = "picmg-quirks.toml"
    check("difference: ipmitool maps AMC site 9 through a table of its own to IPMB-L 0x82; "
          "the library has no address for it (22) and keeps its target",
          (library(quirks, "-f", "3", "devid")["target"],
           ipmitool(quirks, "picmg", "addrinfo", "3")["Site Type"]),
          ("22 0x00 0", "AMC  -> IPMB-L Address: 0x82"))
    lib = library(quirks, "led", "3")
    for led, colour, theirs in ((0, "0x09", "9  [invalid]"), (1, "reserved", "7  [reserved]"),
                                (2, "0x0f", "f  [invalid]"), (3, "reserved", "0  [reserved]")):
        check(f"difference: ipmitool prints unknown colour codes as invalid; the library "
              f"prints them as codes ({colour})",
              (lib[f"led {led}"].split("color=")[1],
               ipmitool(quirks, "picmg", "led", "get", "3", str(led))["Local Control Color"]),
              (colour, theirs))
    for channel, link_type, theirs in (("0", "0x12", "ADVANCED SWITCHING1"),
                                       ("1", "0x25", "STORAGE"), ("2", "0x50", "ETHERNET")):
        check(f"difference: ipmitool mixes the two halves of AMC link type {link_type} into "
              f"{theirs}; the library knows no such link type",
              (library(quirks, "amc", channel, "0")["protocol"],
               ipmitool(quirks, "picmg", "amcportstate", "get", channel, "0")["Link Type"]),
              ("Unknown protocol", theirs))

    for failure in failures:
        print(failure)
    print(f"{len(failures)} differences")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
