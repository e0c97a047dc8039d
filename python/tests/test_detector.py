"""The detector from Python: settings, codes, observations, bad input."""
import re
import subprocess
import threading
import time

import numpy as np
import pytest

import velmora
from conftest import EXAMPLES_DIR, program

FALL = EXAMPLES_DIR / "fall_forward.csv"


def fall_samples():
    return velmora.read_recording(FALL).samples


def test_version_and_settings_match_the_programs():
    banner = subprocess.run([program("Drovik")], capture_output=True).stdout
    assert banner.split(b"\n")[0].decode() == velmora.version()
    printed = subprocess.run([program("velmora-eval"), "--print-settings"], capture_output=True,
                             text=True, check=True).stdout
    expected = [(name, int(value)) for name, value in
                (line.split("=") for line in printed.splitlines())]
    assert list(velmora.default_settings().items()) == expected


def test_check_settings_uses_the_library_message():
    refused = subprocess.run([program("velmora-eval"), "--set", "avgWindow=64", "x"],
                             capture_output=True, text=True).stderr
    message = refused.splitlines()[0].removeprefix("velmora-eval: ")
    with pytest.raises(ValueError, match=re.escape(message)):
        velmora.check_settings({"avgWindow": 64})
    with pytest.raises(ValueError, match=re.escape(message)):
        velmora.Detector({"avgWindow": 64})
    velmora.check_settings({"avgWindow": 63})


@pytest.mark.parametrize("settings, error", [
    ({"noSuchSetting": 1}, ValueError),
    ({"lowLevel": 2**31}, ValueError),
    ({"lowLevel": 1.5}, TypeError),
    ({"lowLevel": True}, TypeError),
    ({1: 2}, TypeError),
    ([("lowLevel", 1)], TypeError),
])
def test_bad_settings_raise(settings, error):
    with pytest.raises(error):
        velmora.Detector(settings)


def test_partial_settings_keep_the_other_defaults():
    detector = velmora.Detector({"lowLevel": np.int64(55)})
    assert detector.settings == {**velmora.default_settings(), "lowLevel": 55}


def test_chunks_reset_and_observe_agree_with_one_whole_run():
    samples = fall_samples()
    detector = velmora.Detector()
    whole = detector.process(samples)
    assert whole.dtype == np.int32 and whole.shape == (len(samples),)
    assert whole.any()
    detector.reset()
    cuts = [0, 1, 40, 41, 333, len(samples)]
    chunks = [detector.process(samples[a:b]) for a, b in zip(cuts, cuts[1:])]
    np.testing.assert_array_equal(np.concatenate(chunks), whole)
    detector.reset()
    observed = detector.observe(samples)
    np.testing.assert_array_equal(observed["code"], whole)
    assert all(len(column) == len(samples) for column in observed.values())


def test_observe_feeds_a_pandas_frame():
    pandas = pytest.importorskip("pandas")
    observed = velmora.Detector().observe(fall_samples())
    frame = pandas.DataFrame(observed)
    assert list(frame.columns) == list(observed)
    assert len(frame) == len(fall_samples())


def test_any_integral_input_gives_the_same_codes():
    samples = fall_samples()
    expected = velmora.Detector().process(samples)
    variants = [samples.astype(np.int64), samples.astype(np.float32), samples.astype(">i2"),
                np.asfortranarray(samples), samples.tolist(),
                np.repeat(samples, 2, axis=0)[::2]]
    for variant in variants:
        np.testing.assert_array_equal(velmora.Detector().process(variant), expected)


@pytest.mark.parametrize("samples, error, message", [
    (np.zeros((5, 5)), ValueError, r"shape \(N, 6\).*\(5, 5\)"),
    (np.zeros(6), ValueError, r"shape \(N, 6\).*\(6,\)"),
    ([[0, 0, 0, 0, 0, 32768]], ValueError, r"samples\[0, 5\] = 32768 does not fit in int16"),
    ([[0, 0, -32769, 0, 0, 0]], ValueError, r"samples\[0, 2\] = -32769"),
    (np.full((2, 6), 2**64 - 1, dtype=np.uint64), ValueError, "does not fit in int16"),
    ([[0, 0, 0, 0, 0.5, 0]], ValueError, r"samples\[0, 4\] = 0.5.* not a whole number"),
    ([[0, 0, 0, 0, 0, float("nan")]], ValueError, "NaN"),
    ([[0, 0, 0, 0, 0, float("inf")]], ValueError, "does not fit"),
    (np.zeros((2, 6), dtype=bool), TypeError, "integer counts"),
    ([["a"] * 6], TypeError, "integer counts"),
    (np.zeros((2, 6), dtype=complex), TypeError, "integer counts"),
])
def test_bad_samples_raise(samples, error, message):
    detector = velmora.Detector()
    with pytest.raises(error, match=message):
        detector.process(samples)
    with pytest.raises(error, match=message):
        detector.observe(samples)


def test_a_closed_detector_refuses_samples_until_reset():
    samples = fall_samples()
    with velmora.Detector() as detector:
        first = detector.process(samples)
    assert detector.closed
    with pytest.raises(ValueError, match="closed"):
        detector.process(samples)
    detector.reset()
    np.testing.assert_array_equal(detector.process(samples), first)


def test_detectors_on_threads_run_beside_the_interpreter():
    samples = np.tile(fall_samples(), (300, 1))  # about 220,000 samples
    expected = velmora.Detector().process(samples)
    results = [None, None]

    def work(slot):
        results[slot] = velmora.Detector().process(samples)

    workers = [threading.Thread(target=work, args=(slot,)) for slot in range(2)]
    ticks = []
    for worker in workers:
        worker.start()
    while any(worker.is_alive() for worker in workers):
        ticks.append(time.perf_counter())
    for worker in workers:
        worker.join()
    for result in results:
        np.testing.assert_array_equal(result, expected)
    assert len(ticks) > 2
    longest_pause = max(np.diff(ticks))
    assert longest_pause < 0.5 * (ticks[-1] - ticks[0]), \
        "the main thread stood still while other threads processed samples"
