#!/usr/bin/python3
"""Replay one recording through the detector and plot the acceleration
magnitude with the detections and the annotated fall.

Usage: replay_plot.py [RECORDING] [-o FIGURE.png]

Prints where the detector first found a fall; then draws the figure
(shown in a window, or written to FIGURE.png with -o). The plot needs
matplotlib (Debian: python3-matplotlib); without it the script prints the
summary, says so and exits with status 0.

Run from the repository after building, for example:
  PYTHONPATH=build/python /usr/bin/python3 examples/python/replay_plot.py \
      examples/recordings/fall_forward.csv -o fall_forward.png
"""
import argparse
import os
import pathlib
import sys

import numpy as np

import velmora

SAMPLE_PERIOD_S = 0.02  # 50 samples per second
DEFAULT = pathlib.Path(__file__).resolve().parents[1] / "recordings" / "fall_forward.csv"


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        epilog="example: PYTHONPATH=build/python /usr/bin/python3 examples/python/replay_plot.py examples/recordings/fall_forward.csv -o fall_forward.png")
    parser.add_argument("--version", action="version", version=velmora.version())
    parser.add_argument("recording", nargs="?", default=DEFAULT, type=pathlib.Path)
    parser.add_argument("-o", "--output", type=pathlib.Path, help="write the figure to this file")
    args = parser.parse_args()

    try:
        recording = velmora.read_recording(args.recording)
    except (OSError, ValueError) as error:
        sys.exit(f"replay_plot: {error}")
    observed = velmora.Detector().observe(recording.samples)
    seconds = recording.positions * SAMPLE_PERIOD_S
    detected = np.flatnonzero(observed["code"] > 0)

    print(f"{recording.path}: {len(recording)} samples ({seconds[-1] if len(seconds) else 0:.1f} s),"
          f" detector {velmora.version()}")
    if detected.size:
        first = detected[0]
        print(f"first detection at position {recording.positions[first]}"
              f" ({seconds[first]:.2f} s), code {observed['code'][first]};"
              f" {detected.size} detecting samples")
    else:
        print("no fall detected")
    if recording.info is not None:
        delay_ms = ((recording.positions[detected[0]] - recording.info.fall_position) * 20
                    if detected.size else None)
        print(f"annotated fall at position {recording.info.fall_position}"
              + (f", detection delay {delay_ms} ms" if delay_ms is not None else ""))

    try:
        import matplotlib
        if args.output:
            matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed (Debian: python3-matplotlib): no figure drawn")
        return 0

    figure, axes = plt.subplots(figsize=(10, 4))
    axes.plot(seconds, observed["rawAccMag"] / 100, lw=0.8, color="0.6", label="raw |a|")
    axes.plot(seconds, observed["accMag"] / 100, lw=1.2, label="smoothed |a|")
    if detected.size:
        axes.plot(seconds[detected], observed["rawAccMag"][detected] / 100, "rv",
                  label="detection")
    if recording.info is not None:
        axes.axvline(recording.info.fall_position * SAMPLE_PERIOD_S, color="k", ls="--",
                     label="annotated fall")
    axes.set_xlabel("time (s)")
    axes.set_ylabel("acceleration magnitude (g)")
    axes.set_title(pathlib.Path(recording.path).name)
    axes.legend(loc="upper right")
    figure.tight_layout()
    if args.output:
        figure.savefig(args.output, dpi=100)
        print(f"figure written to {args.output}")
    else:
        plt.show()
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
