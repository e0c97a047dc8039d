#!/usr/bin/python3
"""Throughput of the Python module against the C++ replay.

Builds a long recording in a temporary folder (never in the repository)
from the shared recordings when they are next to the repository, else from
the bundled examples; replays it with Drovik, then reads it with
velmora.read_recording and runs velmora.Detector.process over it. Prints
samples per CPU second (user + system, so a busy machine disturbs the
figures less than wall-clock time would) for each, the best of several
runs, and the ratio of Detector.process to Drovik.

Run from the repository after building (a Release build for figures worth
quoting):
  PYTHONPATH=build/python /usr/bin/python3 scripts/bench-python.py --build build
"""
import argparse
import os
import pathlib
import resource
import subprocess
import sys
import tempfile
import time

REPO = pathlib.Path(__file__).resolve().parents[1]


def cpu_seconds_of_children():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def best_cpu(repeat, action):
    """Fewest CPU seconds (this process and its children) of `repeat` runs."""
    best = None
    for _ in range(repeat):
        start = time.process_time(), cpu_seconds_of_children()
        action()
        spent = (time.process_time() - start[0]) + (cpu_seconds_of_children() - start[1])
        best = spent if best is None else min(best, spent)
    return best


def make_long_recording(path, samples):
    shared = REPO.parent / "shared" / "data" / "recordings"
    source = shared if shared.is_dir() else REPO / "examples" / "recordings"
    lines = []
    for csv in sorted(source.glob("*.csv")):
        lines += [line for line in csv.read_text(errors="replace").splitlines()[7:]
                  if line.count(",") >= 6]
    with open(path, "w") as out:
        out.write("long benchmark recording\n" + "header\n" * 5 + "index,ax,ay,az,gx,gy,gz\n")
        for i in range(samples):
            out.write(str(i) + lines[i % len(lines)][lines[i % len(lines)].index(","):] + "\n")
    return source


def main():
    parser = argparse.ArgumentParser(
        description="Samples per CPU second of velmora.Detector.process against Drovik.",
        epilog="example: PYTHONPATH=build/python /usr/bin/python3 scripts/bench-python.py "
               "--build build --samples 400000")
    parser.add_argument("--build", default=REPO / "build", type=pathlib.Path,
                        help="build folder holding bin/Drovik (default: build)")
    parser.add_argument("--samples", default=400_000, type=int,
                        help="samples in the long recording (default 400000)")
    parser.add_argument("--repeat", default=3, type=int, help="runs of each timing (default 3)")
    parser.add_argument("--version", action="store_true", help="print the detector version")
    args = parser.parse_args()
    try:
        import velmora
    except ImportError as error:
        parser.exit(2, f"bench-python: cannot import velmora ({error}); "
                       "set PYTHONPATH=build/python\n")
    if args.version:
        print(velmora.version())
        return 0
    drovik = args.build / "bin" / "Drovik"
    if not drovik.exists():
        parser.exit(2, f"bench-python: {drovik} not found; build first or give --build\n")
    if args.samples < 1000 or args.repeat < 1:
        parser.exit(2, "bench-python: --samples must be at least 1000, --repeat at least 1\n")

    with tempfile.TemporaryDirectory() as work:
        long_csv = pathlib.Path(work) / "long.csv"
        source = make_long_recording(long_csv, args.samples)
        load = os.getloadavg()[0]
        print(f"long recording: {args.samples} samples from {source}; "
              f"load average {load:.1f} on {os.cpu_count()} cores")

        def replay():
            subprocess.run([drovik, long_csv], stdout=subprocess.DEVNULL, check=True)

        recording = velmora.read_recording(long_csv)
        assert len(recording) == args.samples
        rates = {
            "Drovik (read + detect)": args.samples / best_cpu(args.repeat, replay),
            "read_recording": args.samples / best_cpu(
                args.repeat, lambda: velmora.read_recording(long_csv)),
            "Detector.process": args.samples / best_cpu(
                args.repeat, lambda: velmora.Detector().process(recording.samples)),
            "Detector.observe": args.samples / best_cpu(
                args.repeat, lambda: velmora.Detector().observe(recording.samples)),
        }
    for name, rate in rates.items():
        print(f"{name:24s} {rate:12,.0f} samples per CPU second")
    ratio = rates["Detector.process"] / rates["Drovik (read + detect)"]
    print(f"Detector.process / Drovik: {ratio:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
