"""pip install --no-build-isolation ./python: the extension is built by the
project's CMake (target _zpapi) in build/release, or in $ZPAPI_BUILD_DIR,
and copied into the package. No package index is needed: setuptools,
pybind11 and numpy come from Debian (docs/python.md)."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(os.environ.get("ZPAPI_BUILD_DIR", ROOT / "build" / "release"))
        if not (build / "CMakeCache.txt").exists():
            subprocess.check_call(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                                   f"-DPython_EXECUTABLE={sys.executable}"])
        subprocess.check_call(["cmake", "--build", str(build), "--target", "_zpapi", "-j", str(os.cpu_count() or 1)])
        built = sorted((build / "python" / "zpapi").glob("_zpapi*.so"))
        if not built:
            raise RuntimeError(f"{build}: the _zpapi extension was not built")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(built[0], target)


setup(
    name="zpapi",
    version="1.0.0",
    description="ZPAPI fingerprint recognition: extraction, matching, galleries and DET plots",
    packages=["zpapi"],
    package_dir={"zpapi": str(Path("zpapi"))},
    ext_modules=[Extension("zpapi._zpapi", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    python_requires=">=3.9",
    install_requires=["numpy"],
    extras_require={"plot": ["matplotlib"]},
    zip_safe=False,
)
