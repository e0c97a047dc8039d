#!/usr/bin/env python3
"""Counts executed instructions from QEMU's instruction log, by function.

Reads the log that `qemu-system-arm -singlestep -d exec,nochain -D FILE`
writes (one line per executed instruction, ending with the name of the
function the instruction belongs to) and prints a JSON object:
  total      the number of instructions;
  inclusive  for each watched function, the instructions executed from its
             entry until control is back in the function that called it,
             callees included (the watched functions are not recursive);
  flat       instructions per function, callees not included.

Usage: scripts/m4-profile.py LOG [WATCHED...]
  WATCHED are substrings of (mangled) function names; the defaults are the
  detector's per-sample call, the attitude filter, and the recording
  reader's line reading and splitting.
"""
import collections
import json
import sys

DEFAULT_WATCHED = ["VelmoraProcessObserved", "AttitudeFilterUpdate", "parseSampleLine", "fgets"]


def profile(stream, watched):
    flat = collections.Counter()
    inclusive = collections.Counter()
    calls = collections.Counter()
    # For each watched name: the caller's symbol while inside, else None.
    inside = {name: None for name in watched}
    previous = None
    total = 0
    for line in stream:
        symbol = line.rsplit(" ", 1)[-1].rstrip("\n")
        total += 1
        flat[symbol] += 1
        if symbol != previous:
            for name in watched:
                caller = inside[name]
                if caller is None:
                    if name in symbol and previous is not None and name not in previous:
                        inside[name] = previous
                        calls[name] += 1
                elif symbol == caller:
                    inside[name] = None
        for name in watched:
            if inside[name] is not None:
                inclusive[name] += 1
        previous = symbol
    return {"total": total, "inclusive": dict(inclusive), "calls": dict(calls),
            "flat": dict(flat.most_common())}


def main():
    if len(sys.argv) < 2 or sys.argv[1] in ("-h", "--help"):
        print(__doc__)
        sys.exit(0 if len(sys.argv) >= 2 else 2)
    watched = sys.argv[2:] or DEFAULT_WATCHED
    with open(sys.argv[1], encoding="utf-8", errors="replace") as stream:
        json.dump(profile(stream, watched), sys.stdout)
    print()


if __name__ == "__main__":
    main()
