"""read_recording: the programs' reading rules and the strict .info."""
import os

import numpy as np
import pytest

import velmora

HEADER = "".join(f"header {i}\n" for i in range(7))


def write(tmp_path, text, info=None):
    path = tmp_path / "rec.csv"
    path.write_text(text)
    if info is not None:
        (tmp_path / "rec.info").write_text(info)
    return path


def test_samples_and_positions_follow_the_replay(tmp_path):
    long_line = "1," + ",".join(["7"] * 600) + "\n"  # over 1023 bytes: two pieces
    path = write(tmp_path, HEADER + "t,1,2,3,4,5,6\n" + "\n" + "5,,100,200,300,1,2,3\n"
                 + "x,40000,70000,12.9,abc,-1,+2,extra\n" + "short,1,2\n" + long_line)
    recording = velmora.read_recording(path)
    np.testing.assert_array_equal(recording.samples[:3], [
        [1, 2, 3, 4, 5, 6], [100, 200, 300, 1, 2, 3], [-25536, 4464, 12, 0, -1, 2]])
    assert recording.samples.dtype == np.int16
    # The blank and the short line count as positions; the long line is two.
    np.testing.assert_array_equal(recording.positions, [0, 2, 3, 5, 6])
    assert recording.info is None
    assert len(recording) == 5


DATA = HEADER + "t,1,2,3,4,5,6\n" * 3


def test_info_beside_the_recording(tmp_path):
    path = write(tmp_path, DATA, info="F01,2,1,more\nignored\n")
    info = velmora.read_recording(str(path)).info
    assert (info.name, info.fall_position, info.fall_flag) == ("F01", 2, 1)


@pytest.mark.parametrize("info", ["F01,2\n", "", "\nF01,2,1\n", "F01,+2,1\n", "F01,-1,1\n",
                                  "F01,3,1\n"])
def test_an_info_velmora_eval_refuses_raises(tmp_path, info):
    with pytest.raises(ValueError, match="rec.info"):
        velmora.read_recording(write(tmp_path, DATA, info=info))


def test_a_fifo_or_device_is_refused_at_once_not_waited_on(tmp_path):
    fifo = tmp_path / "f.csv"
    os.mkfifo(fifo)
    for path in (fifo, "/dev/zero"):
        with pytest.raises(OSError, match="not a regular file"):
            velmora.read_recording(path)
    with pytest.raises(ValueError, match="not a regular file"):
        velmora.evaluate([str(fifo)])


def test_missing_recording_raises_oserror(tmp_path):
    with pytest.raises(OSError, match="missing.csv"):
        velmora.read_recording(tmp_path / "missing.csv")
    with pytest.raises(OSError):
        velmora.read_recording(tmp_path)
