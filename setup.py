"""Builds the `velmora` extension module with the project's CMake build.

pyproject.toml holds the package's description; this file only teaches
setuptools to run CMake for the one extension module and to take the
version from the CMake project (the detector's numeric version).
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"project\(Velmora VERSION ([0-9]+\.[0-9]+\.[0-9]+)", text)
    if not match:
        raise RuntimeError("CMakeLists.txt: no project(Velmora VERSION x.y.z) line")
    return match.group(1)


class CMakeBuild(build_ext):
    """Configures the project for this interpreter and builds only the module."""

    def build_extension(self, ext):
        target = pathlib.Path(self.get_ext_fullpath(ext.name)).resolve()
        build_dir = pathlib.Path(self.build_temp).resolve() / "cmake"
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(
            ["cmake", "-S", str(ROOT), "-B", str(build_dir),
             "-DCMAKE_BUILD_TYPE=Release",
             "-DVELMORA_BUILD_TESTS=OFF",
             "-DVELMORA_BUILD_PYTHON=ON",
             f"-DPython3_EXECUTABLE={sys.executable}"],
            check=True)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "velmora_python",
                        "-j", jobs], check=True)
        module_dir = build_dir / "python"
        built = sorted(module_dir.glob("velmora*.so"))
        if not built:
            raise RuntimeError(
                "the CMake build made no Python module: install the Debian packages "
                "python3-dev python3-pybind11 python3-numpy")
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[0], target)
        shutil.copyfile(module_dir / "velmora.pyi", target.parent / "velmora.pyi")


def profiles():
    """The shipped settings profiles, installed where velmora.profile() looks
    for them in an environment: share/velmora/profiles below sys.prefix."""
    return [("share/velmora/profiles",
             [str(path.relative_to(ROOT)) for path in sorted((ROOT / "profiles").glob("*.settings"))])]


setup(
    version=project_version(),
    data_files=profiles(),
    ext_modules=[Extension("velmora", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
