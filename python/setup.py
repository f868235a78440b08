"""Installs the package; records the build tree it is installed from, where the library is
looked for first (after TESQ_LIBRARY)."""
import os

from setuptools import setup
from setuptools.command.build_py import build_py


class Build_Py(build_py):
    def run(self):
        super().run()
        tree = os.environ.get("TESQ_BUILD_DIR") or os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                                                "build")
        target = os.path.join(self.build_lib, "tesqsrch", "_build_tree.py")
        with open(target, "w", encoding="utf-8") as out:
            out.write("# Written at install: the build tree the package was installed from.\n")
            out.write(f"BUILD_DIR = {os.path.normpath(tree)!r}\n")


setup(cmdclass={"build_py": Build_Py})
