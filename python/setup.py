"""pip install ./python: the qor_lib package, with the shared library copied in beside it.

The library comes from $QOR_LIB_PATH (a file or a folder) or from this checkout's build tree
(build/native, as scripts/test.sh and scripts/demo.sh leave it). Without one, the package still
installs and looks for the library at import time."""
import os
import shutil
import sys
from pathlib import Path

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py

HERE = Path(__file__).resolve().parent
NAME = "qor_lib.dll" if sys.platform == "win32" else "libqor_lib.so"


def built_library():
    env = os.environ.get("QOR_LIB_PATH")
    if env:
        path = Path(env)
        return path / NAME if path.is_dir() else path
    for sub in ("build/native", "build", "build/windows/bin"):
        path = HERE.parent / sub / NAME
        if path.is_file():
            return path
    return None


class BuildWithLibrary(build_py):
    def run(self):
        super().run()
        lib = built_library()
        if lib is None or not lib.is_file():
            print(f"warning: {NAME} not found; set QOR_LIB_PATH at run time", file=sys.stderr)
            return
        shutil.copyfile(lib, Path(self.build_lib) / "qor_lib" / NAME)


class BinaryDistribution(Distribution):
    def has_ext_modules(self):  # the wheel carries a native library: tag it for this platform
        return True


setup(
    name="qor_lib",
    version="1.0.0",
    description="One-dimensional numeric array processing over numpy arrays, without copies",
    packages=["qor_lib"],
    python_requires=">=3.9",
    install_requires=["numpy"],
    cmdclass={"build_py": BuildWithLibrary},
    distclass=BinaryDistribution,
)
