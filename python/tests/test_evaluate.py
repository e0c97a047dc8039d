"""velmora.evaluate against velmora-eval --json."""
import hashlib
import json
import shutil
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


def test_a_settings_file_is_read_as_velmora_eval_reads_it(tmp_path):
    fall = EXAMPLES_DIR / "fall_forward.csv"
    digest = hashlib.sha256(fall.read_bytes()).hexdigest()
    settings = tmp_path / "tuned.settings"
    settings.write_text(f"lowLevel=50\n# tuned-on sha256:{digest}\n")
    assert velmora.read_settings(settings) == {**velmora.default_settings(), "lowLevel": 50}
    paths = [fall, EXAMPLES_DIR / "walking.csv"]
    result = velmora.evaluate(paths, settings=str(settings))
    assert result == eval_json(tmp_path, "--settings", settings, *paths)
    assert result["settings_files"] == [str(settings)]
    assert result["summary"]["in_sample_recordings"] == 1
    assert [row["in_sample"] for row in result["recordings"]] == [True, False]
    assert velmora.evaluate(paths, settings={"lowLevel": 50})["summary"]["in_sample_recordings"] \
        is None


def test_groups_by_index_column_as_velmora_eval_makes_them(tmp_path):
    data = tmp_path / "data"
    data.mkdir()
    rows = ["file\tsubject"]
    for n, source in enumerate(sorted(EXAMPLES_DIR.glob("*.csv"))):
        shutil.copy(source, data / source.name)
        rows.append(f"{source.name}\tS{n % 2}")
    (data / "index.tsv").write_text("\n".join(rows) + "\n")
    result = velmora.evaluate(data, group_by_column="subject")
    assert [group["group"] for group in result["groups"]] == ["S0", "S1"]
    assert result == eval_json(tmp_path, "--group-by-column", "subject", data)


@pytest.mark.parametrize("name, message", [("../fa1", "cannot name a profile"),
                                           ("no-such-profile", "no profile 'no-such-profile'")])
def test_unknown_profiles_are_refused_by_name(name, message):
    with pytest.raises(ValueError, match=message):
        velmora.profile(name)
