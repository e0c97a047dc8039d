"""The Velmora fall detector, its recording reader and its evaluation.

Thin bindings over the C++ libraries the command-line programs use, so every
result is bit-identical to Drovik, velmora-trace and velmora-eval. Samples
are raw sensor counts, 50 per second: acceleration x, y, z at 8192 counts
per g, angular rate x, y, z at 65.536 counts per degree per second.
"""

from __future__ import annotations

import os
from typing import Any, Mapping, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

__version__: str

Settings = Mapping[str, int]
"""Detector settings by name; names left out keep their defaults."""

PathLike = Union[str, os.PathLike[str]]

def version() -> str:
    """The detector's version text, as Drovik prints it on its first line."""

def default_settings() -> dict[str, int]:
    """The 35 detector settings with their defaults, in their fixed order."""

def check_settings(settings: Settings) -> None:
    """Raise ValueError, with the programs' message, for settings the
    detector refuses (for example avgWindow outside 1..63).

    An unknown name is a ValueError, a value that is not an integer a
    TypeError, an integer outside the 32-bit range a ValueError.
    """

class Detector:
    """One detector run over one recording.

    Feed it a recording's samples in order, whole or in chunks: it keeps its
    state across calls, so chunks give the same codes as the whole. Each
    Detector is independent; samples are processed with the interpreter
    released, so detectors on separate threads run in parallel. Usable as a
    context manager that closes it on exit.
    """

    def __init__(self, settings: Union[Settings, PathLike, None] = None) -> None:
        """Set up a detector with a dict of settings or a settings file's
        path; raises ValueError for settings it refuses."""

    def process(self, samples: npt.ArrayLike) -> npt.NDArray[np.int32]:
        """Result codes, one per sample: 0 or the code of the fall pattern.

        `samples` is array-like of shape (N, 6): ax, ay, az, gx, gy, gz in
        raw counts. Any integer or float dtype is taken if every value is a
        whole number in -32768..32767 (ValueError otherwise, naming the
        first offending element); a C-ordered int16 array is used without a
        copy. Raises ValueError when the detector is closed.
        """

    def observe(self, samples: npt.ArrayLike) -> dict[str, np.ndarray]:
        """Process the samples like process() and return every field of the
        detector's observation record for each of them: a dict of
        equal-length numpy arrays keyed by the field names (the names the
        trace line uses), in the record's order, from 'sampleIndex', the raw
        sample and the features through the event state to 'code', the
        result code. Integer fields are int64, flags bool, and
        'postureFlag' a one-character string ('O' upright, 'X' not).
        pandas.DataFrame(result) takes it as it is.
        """

    def reset(self) -> None:
        """Start over with the same settings (also reopens a closed detector)."""

    def close(self) -> None:
        """Release the detector's state; process and observe then raise
        ValueError until reset() is called."""

    @property
    def closed(self) -> bool:
        """Whether close() was called and no reset() since."""

    @property
    def settings(self) -> dict[str, int]:
        """All 35 settings the detector runs with."""

    def __enter__(self) -> Detector: ...
    def __exit__(self, *args: Any) -> None: ...

class RecordingInfo:
    """The annotation file beside a fall recording (`<name>.info`)."""

    path: str
    """Path of the .info file."""
    name: str
    """Its first field, as written."""
    fall_position: int
    """The annotated fall position, a data-line position of the recording."""
    fall_flag: int
    """Drovik prints the detection delay when this is above 0."""

class Recording:
    """A recording read exactly as the programs read it."""

    path: str
    samples: npt.NDArray[np.int16]
    """Shape (N, 6): ax, ay, az, gx, gy, gz of every sample the detector sees."""
    positions: npt.NDArray[np.int64]
    """Data-line position of each sample, counting from 0 as Drovik does:
    lines with fewer than seven fields are skipped but keep their position,
    and a line longer than 1023 bytes counts once per 1023-byte piece."""
    info: Optional[RecordingInfo]
    """The .info beside the recording, or None when there is none."""

    def __len__(self) -> int: ...

def read_recording(path: PathLike) -> Recording:
    """Read a recording file and the `<name>.info` beside it, if any.

    Raises OSError when the recording cannot be opened (missing, unreadable,
    a folder), and ValueError, with velmora-eval's message, when there is an
    .info it would refuse: not a regular file, fewer than three fields on
    the first line, a position or flag that is not a plain 32-bit integer,
    or a position that is negative or beyond the recording's last line.
    """

def read_settings(path: PathLike) -> dict[str, int]:
    """All 35 settings a settings file gives over the defaults, as
    `--settings` reads it (NAME=VALUE lines, '#' comments). Raises
    ValueError with the programs' message (file and line) for a file they
    refuse. Pass the path itself as `settings=` to keep the file's record of
    the recordings it was tuned on; the dict does not carry it.
    """

def profile(name: str) -> str:
    """The path of the shipped settings profile `name` (for example 'fa1',
    see docs/profiles.md), usable as `settings=`. Looked for in
    share/velmora/profiles beside the module (build tree and install) and
    below sys.prefix. Raises ValueError naming the profiles there are.
    """

def evaluate(
    paths: Union[PathLike, Sequence[PathLike]],
    settings: Union[Settings, PathLike, None] = None,
    jobs: int = 0,
    early_tolerance: float = 1.0,
    group_by: Optional[str] = None,
    group_by_column: Union[str, Sequence[str], None] = None,
) -> dict[str, Any]:
    """Evaluate recordings as velmora-eval does, through the same library.

    `paths` are recording files or folders searched recursively for .csv
    files (a single path may be given as it is); a recording with a
    `<name>.info` beside it is a fall recording. `settings` is a dict or
    the path of a settings file (as `--settings`; `profile(name)` gives
    one). `jobs` recordings are replayed at once (0: one per core), with
    the interpreter released. `early_tolerance` is how many seconds a
    detection may precede the annotated position; `group_by` a regular
    expression whose first capture group, searched in each file name, names
    its group; `group_by_column` one column name (or several) of the
    index.tsv beside the recordings, as `--group-by-column`; with both,
    groups combine the pattern's key first.

    A settings file that names the recordings it was tuned on (a search
    writes their SHA-256) makes each row's 'in_sample' True or False and the
    summary's 'in_sample_recordings' a count; both are None otherwise.
    'settings_files' lists the settings file read.

    Returns exactly what `velmora-eval --json` writes, as dicts and lists:
    'format' (the version of this layout), 'version' (the detector's),
    'early_tolerance_seconds', 'early_tolerance_samples', 'settings',
    'settings_files', 'group_by' (only when grouping: a list of keys, here
    `[{'pattern': group_by}, {'column': ...}]`), 'recordings' (one dict per recording:
    outcome, first detection, delay...), 'summary' (outcome counts,
    sensitivity, specificity, false alarms per hour with their 95 %
    intervals, delays, first codes) and, when grouping, 'groups'.
    Unreadable recordings are rows with outcome 'error'. Raises ValueError
    for refused settings, a bad pattern, tolerance or job count, or a folder
    without recordings.
    """

def explain(
    paths: Union[PathLike, Sequence[PathLike]],
    settings: Optional[Settings] = None,
    space: Union[None, PathLike, dict[str, tuple[int, int]]] = None,
    jobs: int = 0,
    early_tolerance: float = 1.0,
) -> dict[str, Any]:
    """Explain every wrong recording as `velmora-tune explain` does.

    `space` is None (the default space), a space file's path, or a dict of
    setting names to (low, high) ranges; every integer of a range is tried.
    Returns exactly what `velmora-tune explain --json` writes: 'settings',
    'space', 'base' (the base figures), 'causes' (errors per nearest cause),
    'fixes' (every (setting, value) that fixes some error, ranked by falls
    gained per false alarm added, with its dataset figures), 'errors' (one
    record per wrong recording: what the detector saw near the fall or the
    alarm, and its nearest cause), 'recording_fixes' (the CSV's rows) and
    'stages' (how far each result-code family got near each error). Each
    list is a list of flat records, ready for pandas.DataFrame. Raises
    ValueError for refused settings or space, a bad tolerance or job count,
    or a folder without recordings.
    """
