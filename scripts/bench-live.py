#!/usr/bin/env python3
"""Latency, processor time and memory of velmora-live on a stream.

Feeds velmora-live the data lines of the bundled example recordings
(examples/recordings/, renumbered and repeated; nothing is written to
disk) through a pipe or a pseudo-terminal, and measures:

  latency   the time from writing the line that completes an alarm's first
            sample to reading the alarm line, median and 99th percentile,
            at 50 lines/s and at full speed;
  processor time per hour of stream (user + system), at full speed and at
            50 lines/s;
  memory    resident set size after one minute of stream (3,000 lines) and
            after a day of stream (4.32 million lines), at full speed.

At 50 lines/s the stream between alarms is sent at full speed and only the
second before each alarm line (50 lines) is paced at 20 ms a line, so that
velmora-live sits idle waiting for input when the alarm line comes, as it
does in a real 50 Hz stream, and a few hundred alarms take minutes, not
hours.

Usage: scripts/bench-live.py [--build DIR] [--alarms N] [--day-lines N] [--pty] [--realtime]
Example: scripts/bench-live.py --build build --alarms 200
"""

import argparse
import json
import os
import pty
import resource
import statistics
import subprocess
import sys
import threading
import time
import tty

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLES = ["fall_forward", "walking", "fall_backward", "sit_down", "jump_down"]


def example_samples():
    """The six values of every data line of the examples, one cycle."""
    samples = []
    for name in EXAMPLES:
        with open(os.path.join(REPO, "examples", "recordings", name + ".csv")) as f:
            for line in f.readlines()[7:]:
                samples.append(line.strip().split(",", 1)[1])
    return samples


def stream_lines(samples, count):
    """`count` data lines, the cycle repeated, positions renumbered."""
    for i in range(count):
        yield ("%d,%s\n" % (i, samples[i % len(samples)])).encode()


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def percentile(values, share):
    ordered = sorted(values)
    rank = max(0, min(len(ordered) - 1, int(round(share * len(ordered) + 0.5)) - 1))
    return ordered[rank]


class Live:
    """velmora-live reading a pipe or the slave side of a pseudo-terminal."""

    def __init__(self, program, use_pty, extra=()):
        self.cpu_before = children_cpu()
        self.pty_name = None
        if use_pty:
            self.master, slave = pty.openpty()
            tty.setraw(slave)
            self.pty_name = os.ttyname(slave)
            os.close(slave)
            args = [program, "--json", "--serial", self.pty_name, *extra]
            self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            self.writer = self.master
            time.sleep(0.3)  # until it has opened the device
        else:
            self.proc = subprocess.Popen([program, "--json", *extra], stdin=subprocess.PIPE,
                                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            self.writer = self.proc.stdin.fileno()
        self.read_at = {}
        self.errors = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.error_reader = threading.Thread(
            target=lambda: self.errors.append(self.proc.stderr.read()), daemon=True)
        self.error_reader.start()

    def _read(self):
        for line in self.proc.stdout:
            now = time.perf_counter()
            self.read_at[json.loads(line)["position"]] = now

    def write(self, data):
        view = memoryview(data)
        while view:
            view = view[os.write(self.writer, view):]

    def finish(self):
        if self.pty_name:
            time.sleep(0.2)
            self.proc.send_signal(2)
            os.close(self.master)
        else:
            self.proc.stdin.close()
        self.proc.wait()
        self.reader.join()
        self.error_reader.join()
        return b"".join(self.errors).decode(), children_cpu() - self.cpu_before

    def rss_kib(self):
        with open("/proc/%d/status" % self.proc.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return -1


def alarm_positions(program, lines):
    """Positions of every alarm in the stream, from one run at full speed."""
    out = subprocess.run([program, "--json"], input=b"".join(lines), capture_output=True,
                         check=True).stdout
    return [json.loads(line)["position"] for line in out.splitlines()]


def latency(program, samples, alarms_wanted, paced, use_pty):
    cycle_alarms = alarm_positions(program, list(stream_lines(samples, len(samples))))
    cycles = -(-alarms_wanted // max(1, len(cycle_alarms)))
    lines = list(stream_lines(samples, cycles * len(samples)))
    alarms = set(alarm_positions(program, lines))
    before = time.perf_counter()
    live = Live(program, use_pty)
    written_at = {}
    pace_from = {position - 50 for position in alarms}
    pacing_until = -1
    next_at = time.perf_counter()
    for position, line in enumerate(lines):
        if paced and position in pace_from:
            pacing_until = position + 50
            next_at = time.perf_counter()
        if paced and position <= pacing_until:
            next_at += 0.020
            delay = next_at - time.perf_counter()
            if delay > 0:
                time.sleep(delay)
        if position in alarms:
            written_at[position] = time.perf_counter()
        live.write(line)
    err, _ = live.finish()
    wall = time.perf_counter() - before
    delays = [(live.read_at[p] - written_at[p]) * 1000.0 for p in alarms if p in live.read_at]
    return delays, len(alarms), err, len(lines), wall


def paced_cpu(program, samples, seconds, use_pty):
    """Processor time of a stream sent at 50 lines/s throughout."""
    live = Live(program, use_pty)
    next_at = time.perf_counter()
    for line in stream_lines(samples, seconds * 50):
        next_at += 0.020
        delay = next_at - time.perf_counter()
        if delay > 0:
            time.sleep(delay)
        live.write(line)
    _, cpu = live.finish()
    return cpu


def memory(program, samples, day_lines, use_pty):
    live = Live(program, use_pty)
    minute = 3000
    lines = stream_lines(samples, day_lines)
    chunk = []
    rss_minute = None
    for position, line in enumerate(lines):
        chunk.append(line)
        if len(chunk) == 1000:
            live.write(b"".join(chunk))
            chunk = []
        if position + 1 == minute:
            live.write(b"".join(chunk))
            chunk = []
            time.sleep(0.5)
            rss_minute = live.rss_kib()
    live.write(b"".join(chunk))
    time.sleep(1.0)  # let it take in the last lines
    rss_day = live.rss_kib()
    err, cpu = live.finish()
    return rss_minute, rss_day, err, cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(REPO, "build"),
                        help="build folder holding bin/velmora-live (default: build)")
    parser.add_argument("--alarms", type=int, default=200,
                        help="alarms timed in each latency run (default 200)")
    parser.add_argument("--day-lines", type=int, default=4_320_000,
                        help="lines of the memory run (default 4,320,000: a day at 50 Hz)")
    parser.add_argument("--paced-seconds", type=int, default=60,
                        help="length of the run at 50 lines/s that measures processor time "
                        "(default 60)")
    parser.add_argument("--realtime", action="store_true",
                        help="run this script and velmora-live with real-time priority "
                        "(SCHED_FIFO 10; needs root), to measure on a busy machine what an "
                        "idle one gives")
    parser.add_argument("--pty", action="store_true",
                        help="feed a pseudo-terminal (--serial) instead of a pipe")
    args = parser.parse_args()
    program = os.path.join(args.build, "bin", "velmora-live")
    if not os.access(program, os.X_OK):
        sys.exit("bench-live: %s not found; build it first" % program)
    if args.realtime:
        os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(10))  # children inherit it
    samples = example_samples()
    channel = "pseudo-terminal" if args.pty else "pipe"
    print("velmora-live through a %s, examples/recordings/ cycled; load average %.2f on %d "
          "processors%s" % (channel, os.getloadavg()[0], os.cpu_count(),
                            ", real-time priority" if args.realtime else ""))
    for paced, label in ((True, "50 lines/s"), (False, "full speed")):
        delays, alarms, err, lines, wall = latency(program, samples, args.alarms, paced, args.pty)
        if len(delays) != alarms:
            print("  %s: %d of %d alarms seen; %s" % (label, len(delays), alarms, err.strip()))
        print("  latency at %-10s: median %.3f ms, 99th percentile %.3f ms, max %.3f ms "
              "(%d alarms, %d lines in %.1f s)" % (label, statistics.median(delays),
                                                  percentile(delays, 0.99), max(delays),
                                                  len(delays), lines, wall))
    cpu = paced_cpu(program, samples, args.paced_seconds, args.pty)
    print("  processor time at 50 lines/s: %.2f s per hour of stream (%.3f s for %d s)"
          % (cpu * 3600.0 / args.paced_seconds, cpu, args.paced_seconds))
    rss_minute, rss_day, err, cpu = memory(program, samples, args.day_lines, args.pty)
    hours = args.day_lines / 50.0 / 3600.0
    print("  memory at full speed: resident %d KiB after a minute of stream (3,000 lines), "
          "%d KiB after %d lines (%.1f h of stream)" % (rss_minute, rss_day, args.day_lines,
                                                        hours))
    print("  processor time at full speed: %.3f s per hour of stream (%.1f s for %.1f h)"
          % (cpu / hours, cpu, hours))
    print("  " + err.strip().splitlines()[-1])
    print("  load average at the end: %.2f" % os.getloadavg()[0])


if __name__ == "__main__":
    main()
