#!/usr/bin/python3
"""Sweep one detector setting over a dataset with velmora.evaluate and
print how the outcomes change.

Usage: sweep_setting.py [--setting NAME] [--values A,B,...] [PATH ...]

PATH are recordings or folders of them (a recording with a <name>.info
beside it is a fall recording), as velmora-eval takes them; by default the
bundled examples. Each value is one evaluation on all cores.

Run from the repository after building, for example:
  PYTHONPATH=build/python /usr/bin/python3 examples/python/sweep_setting.py \\
      --setting lowLevel --values 40,50,60,70,80,90,100 examples/recordings
"""
import argparse
import os
import pathlib
import sys

import velmora

EXAMPLES = pathlib.Path(__file__).resolve().parents[1] / "recordings"


def percent(fraction):
    return "n/a" if fraction is None else f"{100 * fraction:.1f}%"


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        epilog="example: PYTHONPATH=build/python /usr/bin/python3 examples/python/sweep_setting.py --setting lowLevel --values 50,60,70 examples/recordings")
    parser.add_argument("--version", action="version", version=velmora.version())
    parser.add_argument("--setting", default="lowLevel", help="setting to sweep (default lowLevel)")
    parser.add_argument("--values", default="40,50,60,70,80,90,100",
                        help="comma-separated values (default 40,50,60,70,80,90,100)")
    parser.add_argument("paths", nargs="*", default=[EXAMPLES], help="recordings or folders")
    args = parser.parse_args()
    if args.setting not in velmora.default_settings():
        parser.error(f"unknown setting '{args.setting}'; one of: "
                     + ", ".join(velmora.default_settings()))
    try:
        values = [int(text) for text in args.values.split(",")]
    except ValueError:
        parser.error(f"--values: '{args.values}' is not a list of integers")

    default = velmora.default_settings()[args.setting]
    print(f"{args.setting} (default {default}) over {', '.join(map(str, args.paths))}")
    print(f"{'value':>8} {'tp':>4} {'missed':>6} {'early':>5} {'false':>5} {'tn':>4}"
          f" {'sensitivity':>11} {'specificity':>11} {'alarms/h':>8} {'median ms':>9}")
    for value in values:
        try:
            summary = velmora.evaluate(args.paths, settings={args.setting: value})["summary"]
        except ValueError as error:
            print(f"{value:>8} refused: {error}")
            continue
        outcomes = summary["outcomes"]
        per_hour = summary["false_alarms_per_hour"]
        median = summary["delay_ms"]["median"]
        print(f"{value:>8} {outcomes['tp']:>4} {outcomes['missed']:>6} {outcomes['early']:>5}"
              f" {outcomes['false_alarm']:>5} {outcomes['tn']:>4}"
              f" {percent(summary['sensitivity']):>11} {percent(summary['specificity']):>11}"
              f" {'n/a' if per_hour is None else f'{per_hour:.2f}':>8}"
              f" {'n/a' if median is None else median:>9}")
    return 0


if __name__ == "__main__":
    try:
        status = main()
        sys.stdout.flush()
    except BrokenPipeError:
        # The reader went away (`| head`): nothing more to say, and nothing
        # left for the interpreter to flush into the closed pipe at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        status = 0
    sys.exit(status)
