"""The shipped examples run on the shipped catalogue and say what they did."""

import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
CATALOGUE = ROOT / "examples" / "data" / "stations.tle"


def run(*args):
    return subprocess.run([sys.executable, *map(str, args)], capture_output=True, text=True, timeout=120)


def test_demo_prints_records_and_sets():
    proc = run(ROOT / "examples" / "demo.py", CATALOGUE)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.count("Two-line Elements (DUOLINE)") == 12
    assert "ELSET ISS (ZARYA) (25544)\n" in proc.stdout
    assert "7 elements" in proc.stdout


def test_demo_usage():
    proc = run(ROOT / "examples" / "demo.py")
    assert proc.returncode == 2 and "Usage" in proc.stderr


def test_plot_writes_a_png(tmp_path):
    import matplotlib.image

    out = tmp_path / "iss.png"
    proc = run(ROOT / "examples" / "plot_history.py", CATALOGUE, 25544, out)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == f"wrote {out}"
    image = matplotlib.image.imread(out)
    assert out.stat().st_size > 0 and image.shape[0] > 100 and image.shape[1] > 100


def test_plot_unknown_satellite(tmp_path):
    proc = run(ROOT / "examples" / "plot_history.py", CATALOGUE, 99999, tmp_path / "x.png")
    assert proc.returncode == 1 and "99999" in proc.stderr
