#!/usr/bin/env python3
"""Flash and RAM of a Cortex-M4 program by where the bytes come from.

Reads a GNU ld linker map (the m4 preset writes one beside every program,
build-m4/bin/NAME.elf.map) and adds up the input sections by origin: the
detector library, the recording reader, the program itself, the target
runtime of embedded/, and each toolchain library (libstdc++, libm, libgcc,
libc) by member. Flash is code, read-only data, unwind tables, the
constructor lists and the initial values of .data; RAM is .data and .bss
(the fixed heap and stack sections are shown apart).

With --why, also prints for every toolchain library member the file and the
symbol that made the linker take it.

Usage: scripts/m4-flash.py [--why] MAP
"""
import argparse
import collections
import os
import re
import sys

FLASH_SECTIONS = {".vectors", ".text", ".rodata", ".ARM.extab", ".ARM.exidx",
                  ".preinit_array", ".init_array", ".fini_array", ".data"}
RAM_SECTIONS = {".data", ".bss"}

INPUT = re.compile(r"^ (\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
OUTPUT = re.compile(r"^(\.\S+)(?:\s+0x([0-9a-f]+)\s+0x([0-9a-f]+))?")


def origin(path):
    """(group, member) of an input file named in the map."""
    base = os.path.basename(path)
    archive = re.match(r"(.*)\((.*)\)$", base)
    if archive:
        library, member = archive.group(1), archive.group(2)
        groups = {
            "libvelmora.a": "detector (libvelmora.a)",
            "libvelmora_recording.a": "recording reader",
            "libstdc++.a": "C++ runtime (libstdc++)",
            "libsupc++.a": "C++ runtime (libstdc++)",
            "libm.a": "maths (libm)",
            "libgcc.a": "compiler support (libgcc)",
            "libc.a": "C library (libc)",
            "libg.a": "C library (libc)",
            "libc_nano.a": "C library (libc)",
        }
        return groups.get(library, library), member
    if "velmora_m4_runtime" in path:
        return "target runtime (embedded/)", base
    if path.startswith("/usr/"):
        return "toolchain objects", base
    return "program", base


def parse(map_path):
    flash = collections.Counter()
    ram = collections.Counter()
    members = collections.Counter()
    reasons = {}
    output_section = None
    pending_name = None
    with open(map_path, encoding="utf-8", errors="replace") as handle:
        lines = handle.read().splitlines()
    index = 0
    # Archive members and what brought them in.
    if lines and lines[0].startswith("Archive member included"):
        index = 1
        while index < len(lines) and not lines[index].startswith(("Discarded", "Memory",
                                                                   "Allocating")):
            line = lines[index]
            if line and not line.startswith(" "):
                member = line.strip()
                reason = lines[index + 1].strip() if index + 1 < len(lines) else ""
                reasons[origin(member)] = reason
                index += 2
                continue
            index += 1
    while index < len(lines) and not lines[index].startswith("Linker script and memory map"):
        index += 1
    for line in lines[index:]:
        top = OUTPUT.match(line)
        if top and not line.startswith(" "):
            output_section = top.group(1)
            pending_name = None
            continue
        match = INPUT.match(line)
        if match and output_section is not None:
            name = match.group(1) or pending_name
            pending_name = None
            size = int(match.group(3), 16)
            path = match.group(4)
            if name is None or size == 0 or path.startswith(("load address", "*")):
                continue
            if "(size before relaxing)" in path:
                continue
            group, member = origin(path)
            if output_section in FLASH_SECTIONS:
                flash[group] += size
                members[(group, member)] += size
            if output_section in RAM_SECTIONS:
                ram[group] += size
            continue
        stripped = line.strip()
        if line.startswith(" ") and stripped.startswith(".") and " " not in stripped:
            pending_name = stripped
    return flash, ram, members, reasons


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--why", action="store_true",
                        help="name what brought in each toolchain library member")
    parser.add_argument("map", help="linker map (build-m4/bin/NAME.elf.map)")
    args = parser.parse_args()
    if not os.path.isfile(args.map):
        sys.exit(f"m4-flash: {args.map}: no such map")
    flash, ram, members, reasons = parse(args.map)
    print(f"{'origin':40} {'flash':>8} {'RAM':>8}")
    for group in sorted(flash, key=lambda g: -flash[g]):
        print(f"{group:40} {flash[group]:8} {ram.get(group, 0):8}")
    print(f"{'total':40} {sum(flash.values()):8} {sum(ram.values()):8}")
    print()
    print("largest toolchain library members (flash bytes):")
    toolchain = [(size, group, member) for (group, member), size in members.items()
                 if group not in ("detector (libvelmora.a)", "recording reader", "program",
                                  "target runtime (embedded/)")]
    for size, group, member in sorted(toolchain, reverse=True)[:25]:
        why = f"  <- {reasons[(group, member)]}" if args.why and (group, member) in reasons else ""
        print(f"  {size:7}  {group:28} {member}{why}")


if __name__ == "__main__":
    main()
