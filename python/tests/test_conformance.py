"""Detector.process and read_recording against the programs' recorded
outputs on every conformance case: velmora-trace's result codes and
Drovik's first detection."""
import re
import shutil

import numpy as np
import pytest

import velmora
from conftest import CASES_DIR

CASES = sorted(p.stem for p in CASES_DIR.glob("*.csv")) if CASES_DIR.is_dir() else []
TRACE_CODE = re.compile(rb" -> \((\d+)\)$")
# The path in quotes, the CP949 particle, then the position in quotes.
# The head: sample index, raw sample, features, jump window, averages,
# angles with the posture flag, and the two three-sample sums.
TRACE_HEAD = re.compile(rb"-?\b\d+\b|\b[OX]\b")
HEAD_FIELDS = 21
DETECTION = re.compile(rb"^'.*'\xc0\xc7 '(-?\d+)'", re.MULTILINE)


def read_samples(cases_dir, name, tmp_path):
    """The recording's samples; a case whose .info the programs would refuse
    is read from a copy without it."""
    try:
        return velmora.read_recording(cases_dir / f"{name}.csv")
    except ValueError:
        copy = tmp_path / f"{name}.csv"
        shutil.copyfile(cases_dir / f"{name}.csv", copy)
        return velmora.read_recording(copy)


@pytest.mark.parametrize("name", CASES)
def test_codes_and_first_detection_match_the_programs(cases_dir, name, tmp_path):
    recording = read_samples(cases_dir, name, tmp_path)
    codes = velmora.Detector().process(recording.samples)

    trace = (cases_dir / f"{name}.trace").read_bytes().splitlines()
    expected = [int(m.group(1)) if (m := TRACE_CODE.search(line)) else 0 for line in trace]
    np.testing.assert_array_equal(codes, expected)

    # The head of every trace line prints the first fields of the
    # observation record, in the record's order.
    observed = velmora.Detector().observe(recording.samples)
    np.testing.assert_array_equal(observed["code"], codes)
    head_names = list(observed)[:HEAD_FIELDS]
    for i, line in enumerate(trace):
        head = TRACE_HEAD.findall(line[:line.index(b">", line.index(b"3S <")) + 1])
        assert [observed[name][i] for name in head_names] == \
            [value.decode() if value in (b"O", b"X") else int(value) for value in head], \
            f"trace line {i}"

    found = DETECTION.search((cases_dir / f"{name}.stdout").read_bytes())
    detected = np.flatnonzero(codes > 0)
    if found is None:
        assert detected.size == 0
    else:
        assert recording.positions[detected[0]] == int(found.group(1))


def test_conformance_cases_present(cases_dir):
    if not CASES:
        pytest.fail(f"no recordings in {cases_dir}")
