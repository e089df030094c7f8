"""Builds toneshift._toneshift with CMake for pip (metadata in pyproject.toml).

build_ext configures the whole project with its tests off, builds only the _toneshift target
(the core, the documents, the C interface and the module) in Release, and copies the module
into the package. TONESHIFT_CMAKE_BUILD_DIR names a CMake build folder to reuse between
builds; CMAKE_BUILD_PARALLEL_LEVEL sets the number of compile jobs.
"""

import glob
import os
import re
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.egg_info import egg_info

ROOT = os.path.dirname(os.path.abspath(__file__))


def library_version():
    """The C interface's version, from its header, so that the two cannot disagree."""
    with open(os.path.join(ROOT, "include", "toneshift", "toneshift.h"), encoding="utf-8") as f:
        header = f.read()
    parts = [re.search(rf"#define TS_VERSION_{p} (\d+)", header) for p in
             ("MAJOR", "MINOR", "PATCH")]
    if not all(parts):
        raise RuntimeError("toneshift.h does not define TS_VERSION_MAJOR, _MINOR and _PATCH")
    return ".".join(m.group(1) for m in parts)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = os.environ.get("TONESHIFT_CMAKE_BUILD_DIR") or os.path.join(
            os.path.abspath(self.build_temp), "cmake")
        # Warnings stay warnings here: a compiler newer than the project's must not stop an
        # installation.
        subprocess.check_call([
            "cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
            "-DTONESHIFT_TESTS=OFF", "-DTONESHIFT_BENCHMARKS=OFF", "-DTONESHIFT_WERROR=OFF",
            f"-DPython_EXECUTABLE={sys.executable}"])
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.check_call(["cmake", "--build", build_dir, "--target", "_toneshift", "-j", jobs])
        suffix = sysconfig.get_config_var("EXT_SUFFIX")
        built = glob.glob(os.path.join(build_dir, "src", "python", "toneshift",
                                       "_toneshift" + suffix))
        if len(built) != 1:
            raise RuntimeError(f"CMake built no _toneshift{suffix} in {build_dir}")
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built[0], target)


class EggInfoInBuild(egg_info):
    """Metadata written under build/ (ignored by git) rather than beside the package."""

    def initialize_options(self):
        super().initialize_options()
        self.egg_base = os.path.relpath(os.path.join(ROOT, "build"))
        os.makedirs(self.egg_base, exist_ok=True)


setup(
    version=library_version(),
    ext_modules=[Extension("toneshift._toneshift", sources=[])],
    cmdclass={"build_ext": CMakeBuild, "egg_info": EggInfoInBuild},
)
