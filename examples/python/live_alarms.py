#!/usr/bin/python3
"""Run the fall detector on samples as they arrive and print every alarm.

Reads lines as a recording holds them ("index,ax,ay,az,gx,gy,gz", raw
counts at 50 samples per second) from standard input or from a serial
port, feeds each sample to velmora.Detector.process, and prints one line
per alarm: a run of consecutive positive results, reported at its first
sample. Lines that are not such data lines (a header, noise on the line)
are skipped and do not count as positions. A reader that goes away (a
closed pipe) or Ctrl-C ends it quietly.

Usage: live_alarms.py [--serial DEVICE [--baud N]]

Run from the repository after building, for example:
  PYTHONPATH=build/python /usr/bin/python3 examples/python/live_alarms.py \\
      < examples/recordings/fall_forward.csv
  PYTHONPATH=build/python /usr/bin/python3 examples/python/live_alarms.py \\
      --serial /dev/ttyACM0 --baud 115200
(the serial port needs python3-serial).
"""
import argparse
import datetime
import os
import sys

import numpy as np

import velmora


def sample_of(line):
    """The six counts of a data line, or None when it is not one."""
    fields = line.strip().split(",")
    if len(fields) != 7 or not fields[0].strip():
        return None
    try:
        values = [int(field) for field in fields[1:]]
    except ValueError:
        return None
    if any(value < -32768 or value > 32767 for value in values):
        return None
    return np.array([values], dtype=np.int16)


def lines_from(args):
    if args.serial is None:
        yield from sys.stdin
        return
    import serial  # python3-serial, needed only for a serial port

    with serial.Serial(args.serial, args.baud, timeout=None) as port:
        while True:
            yield port.readline().decode("utf-8", errors="replace")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--serial", metavar="DEVICE", help="read a serial port, not standard input")
    parser.add_argument("--baud", type=int, default=115200, help="its speed (default 115200)")
    args = parser.parse_args()
    position = 0
    previous_positive = False
    with velmora.Detector() as detector:
        for line in lines_from(args):
            sample = sample_of(line)
            if sample is None:
                continue
            code = int(detector.process(sample)[0])
            if code > 0 and not previous_positive:
                now = datetime.datetime.now(datetime.timezone.utc)
                print(f"{now.isoformat(timespec='milliseconds')} alarm at position {position} "
                      f"({position / 50:.2f} s): code {code}", flush=True)
            previous_positive = code > 0
            position += 1


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        pass
    except BrokenPipeError:
        # The reader of standard output has gone: stop without a traceback,
        # and keep Python from complaining again when it flushes at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
