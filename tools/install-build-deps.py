"""Install the build requirements named in pyproject.toml into this Python."""

import subprocess
import sys
import tomllib
from pathlib import Path

root = Path(__file__).resolve().parent.parent
requires = tomllib.loads((root / "pyproject.toml").read_text())["build-system"]["requires"]
subprocess.check_call([sys.executable, "-m", "pip", "install", "-q", *requires, "cmake>=3.24", "ninja>=1.10"])
