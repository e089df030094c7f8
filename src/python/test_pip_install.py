"""pip installs the toneshift package from a copy of the source tree into a virtual
environment of this Python (offline: no index, no build isolation, Debian's setuptools as
the backend), and the environment's interpreter imports it and converts a string.

Usage: test_pip_install.py SOURCE_ROOT
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else
                         os.path.join(os.path.dirname(__file__), "..", ".."))


class PipInstall(unittest.TestCase):
    def test_the_venv_imports_the_installed_module(self):
        with tempfile.TemporaryDirectory(prefix="toneshift-pip-") as folder:
            # A copy, so that the build leaves nothing in the source tree (build/, egg-info).
            tree = os.path.join(folder, "src")
            shutil.copytree(SOURCE, tree, ignore=shutil.ignore_patterns(
                ".git", "build", "build-*", "*.egg-info", "__pycache__", "corpus-work"))
            venv = os.path.join(folder, "venv")
            subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", venv],
                           check=True)
            env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "PIP_"))}
            env.update(PIP_DISABLE_PIP_VERSION_CHECK="1", PIP_NO_INPUT="1")
            python = os.path.join(venv, "bin", "python")
            subprocess.run([python, "-m", "pip", "install", "--no-build-isolation", "--no-index",
                            tree], check=True, env=env, cwd=folder)
            left = [os.path.relpath(os.path.join(d, n), tree)
                    for d, dirs, _ in os.walk(tree) for n in dirs if n.endswith(".egg-info")]
            self.assertEqual([p for p in left if not p.startswith("build" + os.sep)], [])
            result = subprocess.run(
                [python, "-c", "import toneshift, sys; "
                 "sys.stdout.buffer.write(toneshift.convert('Vi\u1ec7t Nam', to='vni-win')); "
                 "print(); print(toneshift.__file__)"],
                check=True, env=env, cwd=folder, capture_output=True)
            data, where = result.stdout.split(b"\n")[:2]
            self.assertEqual(data, b"Vie\xe4t Nam")
            self.assertTrue(where.decode().startswith(venv), where)
            package = os.path.dirname(where.decode())
            for name in ["py.typed", "__init__.pyi", "_codecs.py"]:
                self.assertTrue(os.path.isfile(os.path.join(package, name)), name)


if __name__ == "__main__":
    unittest.main()
