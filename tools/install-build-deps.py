"""Install the build requirements that pyproject.toml declares into this Python:
the [build-system] requirements, and CMake and Ninja in the versions
[tool.scikit-build] asks for (the backend would otherwise add them to an
isolated build's requirements when the machine has none new enough)."""

import subprocess
import sys
import tomllib
from pathlib import Path

root = Path(__file__).resolve().parent.parent
config = tomllib.loads((root / "pyproject.toml").read_text())
tools = config["tool"]["scikit-build"]
requires = [*config["build-system"]["requires"], f"cmake{tools['cmake']['version']}", f"ninja{tools['ninja']['version']}"]
subprocess.check_call([sys.executable, "-m", "pip", "install", "-q", *requires])
