"""Where the tests find the built programs and the shared data.

CTest sets VELMORA_BIN_DIR and VELMORA_SHARED_DIR; run by hand, the
defaults are build/bin and the shared folder beside the repository.
"""
import os
import pathlib

import pytest

SOURCE_DIR = pathlib.Path(os.environ.get("VELMORA_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
BIN_DIR = pathlib.Path(os.environ.get("VELMORA_BIN_DIR", SOURCE_DIR / "build" / "bin"))
SHARED_DIR = pathlib.Path(os.environ.get("VELMORA_SHARED_DIR", SOURCE_DIR.parent / "shared"))
CASES_DIR = SHARED_DIR / "conformance" / "cases"
RECORDINGS_DIR = SHARED_DIR / "data" / "recordings"
EXAMPLES_DIR = SOURCE_DIR / "examples" / "recordings"


def program(name):
    path = BIN_DIR / name
    if not path.exists():
        pytest.skip(f"{path} is not built")
    return path


@pytest.fixture
def cases_dir():
    if not CASES_DIR.is_dir():
        pytest.skip(f"conformance cases not found at {CASES_DIR}")
    return CASES_DIR


@pytest.fixture
def recordings_dir():
    if not RECORDINGS_DIR.is_dir():
        pytest.skip(f"shared recordings not found at {RECORDINGS_DIR}")
    return RECORDINGS_DIR
