"""The Python examples run and say what they found."""
import os
import subprocess
import sys

import pytest

from conftest import EXAMPLES_DIR, SOURCE_DIR


@pytest.mark.parametrize("script, arguments, expected", [
    ("replay_plot.py", [EXAMPLES_DIR / "fall_forward.csv", "-o", "{tmp}/figure.png"],
     "first detection at position 445"),
    ("sweep_setting.py", ["--values", "60,64", "--setting", "avgWindow", EXAMPLES_DIR],
     "64 refused: avgWindow must lie in 1..63"),
])
def test_example_runs(script, arguments, expected, tmp_path):
    command = [sys.executable, SOURCE_DIR / "examples" / "python" / script,
               *(str(a).format(tmp=tmp_path) for a in arguments)]
    run = subprocess.run(command, capture_output=True, text=True, env=os.environ)
    assert run.returncode == 0, run.stderr
    assert expected in run.stdout


def test_example_ends_quietly_on_a_closed_pipe():
    # The read end is closed before the script starts, so its first line
    # already meets a broken pipe, as `sweep_setting.py | head -0` would.
    read_end, write_end = os.pipe()
    os.close(read_end)
    command = [sys.executable, SOURCE_DIR / "examples" / "python" / "sweep_setting.py",
               "--values", "60", EXAMPLES_DIR]
    run = subprocess.run(command, stdout=write_end, stderr=subprocess.PIPE, text=True,
                         env=os.environ)
    os.close(write_end)
    assert run.returncode == 0
    assert run.stderr == ""


def test_live_example_alarms_on_a_stream_and_is_quiet_on_a_closed_pipe():
    script = SOURCE_DIR / "examples" / "python" / "live_alarms.py"
    with open(EXAMPLES_DIR / "fall_forward.csv", "rb") as recording:
        run = subprocess.run([sys.executable, script], stdin=recording, capture_output=True,
                             text=True, env=os.environ)
    assert run.returncode == 0, run.stderr
    assert "alarm at position 445 (8.90 s): code" in run.stdout
    # The reader goes away before the alarm: no traceback.
    command = f"'{sys.executable}' '{script}' < '{EXAMPLES_DIR / 'fall_forward.csv'}' | true"
    closed = subprocess.run(command, shell=True, capture_output=True, text=True, env=os.environ)
    assert closed.stderr == ""
