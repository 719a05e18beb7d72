"""The shipped examples run on the shipped catalogue and say what they did."""

import pathlib
import subprocess
import sys

from markers import not_sanitized

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


@not_sanitized
def test_plot_writes_a_png(tmp_path):
    import matplotlib.image

    out = tmp_path / "iss.png"
    proc = run(ROOT / "examples" / "plot_history.py", CATALOGUE, 25544, out)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == f"wrote {out}"
    image = matplotlib.image.imread(out)
    assert out.stat().st_size > 0 and image.shape[0] > 100 and image.shape[1] > 100


@not_sanitized
def test_plot_unknown_satellite(tmp_path):
    proc = run(ROOT / "examples" / "plot_history.py", CATALOGUE, 99999, tmp_path / "x.png")
    assert proc.returncode == 1 and "99999" in proc.stderr


def test_demo_propagates_the_catalogue():
    proc = run(ROOT / "examples" / "demo.py", CATALOGUE)
    assert proc.returncode == 0, proc.stderr
    table = proc.stdout.split("SGP4, one day after each epoch, 1440 samples per set")[1].splitlines()[2:]
    assert len(table) == 12
    iss = [row.split() for row in table if row.startswith("ISS (ZARYA)")]
    assert len(iss) == 7
    for row in iss:
        low, high, speed, errors = float(row[-4]), float(row[-3]), float(row[-2]), int(row[-1])
        assert 300 < low < high < 450 and 7.6 < speed < 7.75 and errors == 0


@not_sanitized
def test_altitude_plot_writes_a_png(tmp_path):
    import matplotlib.image

    out = tmp_path / "alt.png"
    proc = run(ROOT / "examples" / "plot_altitude.py", CATALOGUE, 25544, out)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == f"wrote {out}"
    image = matplotlib.image.imread(out)
    assert image.shape[0] > 100 and image.shape[1] > 100


@not_sanitized
def test_altitude_plot_defaults_to_a_temporary_file():
    proc = run(ROOT / "examples" / "plot_altitude.py", CATALOGUE)
    assert proc.returncode == 0, proc.stderr
    written = pathlib.Path(proc.stdout.strip().removeprefix("wrote "))
    assert written.name == "altitude-25544.png" and written.stat().st_size > 0
    written.unlink()
    written.parent.rmdir()
