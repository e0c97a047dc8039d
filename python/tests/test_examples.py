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
