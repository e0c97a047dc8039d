"""velmora.explain against velmora-tune explain --json."""
import json
import subprocess

import pytest

import velmora
from conftest import EXAMPLES_DIR, program


def test_the_tree_velmora_tune_explain_writes(tmp_path):
    tune = program("velmora-tune")
    out = tmp_path / "explain.json"
    subprocess.run([tune, "explain", "--set", "lowLevel=45", "--json", out, EXAMPLES_DIR],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    expected = json.loads(out.read_text())
    result = velmora.explain(EXAMPLES_DIR, settings={"lowLevel": 45}, jobs=2)
    assert result == expected
    assert result["errors"] and result["recording_fixes"]


@pytest.mark.parametrize("arguments, message", [
    (dict(paths=[]), "no recordings"),
    (dict(paths=[EXAMPLES_DIR], space={"avgWindow": (0, 70)}), "avgWindow"),
    (dict(paths=[EXAMPLES_DIR], space={"nosuch": (1, 2)}), "nosuch"),
])
def test_refusals(arguments, message):
    with pytest.raises(ValueError, match=message):
        velmora.explain(**arguments)
