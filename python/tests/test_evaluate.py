"""velmora.evaluate against velmora-eval --json."""
import json
import subprocess

import pytest

import velmora
from conftest import EXAMPLES_DIR, program


def eval_json(tmp_path, *arguments):
    out = tmp_path / "eval.json"
    subprocess.run([program("velmora-eval"), "--json", out, *map(str, arguments)],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return json.loads(out.read_text())


def test_shared_recordings_as_velmora_eval_gives_them(recordings_dir, tmp_path):
    expected = eval_json(tmp_path, "-j", 2, "--group-by", "^([DF])[0-9]+_", recordings_dir)
    assert velmora.evaluate([recordings_dir], jobs=2, group_by="^([DF])[0-9]+_") == expected


def test_settings_and_tolerance_as_velmora_eval_takes_them(tmp_path):
    expected = eval_json(tmp_path, "--set", "lowLevel=50", "--early-tolerance", 0.5,
                         EXAMPLES_DIR / "fall_forward.csv", EXAMPLES_DIR / "walking.csv")
    result = velmora.evaluate([str(EXAMPLES_DIR / "fall_forward.csv"),
                               EXAMPLES_DIR / "walking.csv"],
                              settings={"lowLevel": 50}, early_tolerance=0.5)
    assert result == expected
    assert velmora.evaluate(EXAMPLES_DIR)["summary"]["recordings"] == \
        len(list(EXAMPLES_DIR.glob("*.csv")))


@pytest.mark.parametrize("arguments, message", [
    (dict(paths=[]), "no recordings"),
    (dict(paths=[EXAMPLES_DIR], settings={"avgWindow": 0}), "avgWindow"),
    (dict(paths=[EXAMPLES_DIR], early_tolerance=-1), "early_tolerance"),
    (dict(paths=[EXAMPLES_DIR], early_tolerance=float("nan")), "early_tolerance"),
    (dict(paths=[EXAMPLES_DIR], jobs=-1), "jobs"),
    (dict(paths=[EXAMPLES_DIR], group_by="no capture"), "capture"),
    (dict(paths=[EXAMPLES_DIR.parent / "consumer"]), "no recordings|recording"),
])
def test_bad_arguments_raise(arguments, message):
    with pytest.raises(ValueError, match=message):
        velmora.evaluate(**arguments)


def test_an_unreadable_recording_is_an_error_row(tmp_path):
    (tmp_path / "bad.csv").write_text("")
    (tmp_path / "bad.info").write_text("only,two\n")
    result = velmora.evaluate([tmp_path / "bad.csv"])
    assert [row["outcome"] for row in result["recordings"]] == ["error"]
    with pytest.raises(ValueError, match="missing.csv' does not exist"):
        velmora.evaluate([tmp_path / "missing.csv"])
