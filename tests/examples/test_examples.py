"""The shipped examples run on the shipped catalogue and say what they did."""

import pathlib
import subprocess
import sys
import tempfile

import numpy as np
import pytest

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
def test_plot_writes_a_png_where_asked(tmp_path):
    import matplotlib.image

    out = tmp_path / "iss.png"
    proc = run(ROOT / "examples" / "plot_history.py", CATALOGUE, 25544, "-o", out)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == f"wrote {out}"
    image = matplotlib.image.imread(out)
    assert out.stat().st_size > 0 and image.shape[0] > 100 and image.shape[1] > 100
    proc = run(ROOT / "examples" / "plot_history.py", CATALOGUE, 25544, "-d", tmp_path)
    assert proc.stdout.strip() == f"wrote {tmp_path / 'history-25544.png'}"


@not_sanitized
def test_plot_defaults_to_a_temporary_directory(tmp_path):
    # Run from an empty working directory: nothing may be written there.
    proc = subprocess.run([sys.executable, ROOT / "examples" / "plot_history.py", CATALOGUE], cwd=tmp_path,
                          capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    written = pathlib.Path(proc.stdout.strip().removeprefix("wrote "))
    assert written.is_file() and list(tmp_path.iterdir()) == []
    assert written.parent.parent == pathlib.Path(tempfile.gettempdir())
    written.unlink()
    written.parent.rmdir()


@not_sanitized
def test_plot_unknown_satellite(tmp_path):
    proc = run(ROOT / "examples" / "plot_history.py", CATALOGUE, 99999, "-o", tmp_path / "x.png")
    assert proc.returncode == 1 and "99999" in proc.stderr


@not_sanitized
def test_plot_labels_and_gaps():
    sys.path.insert(0, str(ROOT / "examples"))
    try:
        import plot_history
    finally:
        sys.path.pop(0)
    from quorvane.propagators.analytical.sgp4.catalogue import read_elsets

    elset = read_elsets(CATALOGUE)[25544]
    fig = plot_history.figure(elset, gap_days=3.0)
    alt, inc = fig.axes
    assert inc.get_xlabel() == "epoch (UTC)"
    assert "above the equatorial radius" in alt.get_ylabel() and "[km]" in alt.get_ylabel()
    # One NaN break per gap of more than three days between epochs.
    days = np.diff(np.asarray(elset.epoch.int64)) / 86400e9
    for line in [*alt.get_lines(), *inc.get_lines()]:
        y = np.asarray(line.get_ydata(), dtype=float)
        assert np.isnan(y).sum() == (days > 3.0).sum() and len(y) == elset.size + (days > 3.0).sum()
    x, y = plot_history.with_breaks(np.array([0, 1, 5, 6], dtype="datetime64[D]"), [1.0, 2.0, 3.0, 4.0], 3.0)
    assert np.isnan(y).tolist() == [False, False, True, False, False]
    assert x[2] == np.datetime64("1970-01-04", "ns")


def test_demo_propagates_the_catalogue():
    proc = run(ROOT / "examples" / "demo.py", CATALOGUE)
    assert proc.returncode == 0, proc.stderr
    after = proc.stdout.split("SGP4, one day after each epoch, 1440 samples per set")[1]
    table = after.split("\n\n")[0].splitlines()[2:]
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


def test_demo_prints_the_next_passes():
    proc = run(ROOT / "examples" / "demo.py", CATALOGUE)
    assert proc.returncode == 0, proc.stderr
    head, _, rows = proc.stdout.partition("Passes over Darmstadt above 10 degrees")
    count = int(rows.splitlines()[0].rsplit(":", 1)[1])
    table = rows.splitlines()[2:]
    assert count == len(table) > 0
    iss = [row.split() for row in table if row.startswith("ISS (ZARYA)")]
    assert iss and all(10.0 <= float(row[-3]) <= 90.0 for row in iss)
    assert all(row[-2] in ("yes", "no") and row[-1] in ("yes", "no") for row in iss)


@not_sanitized
@pytest.mark.parametrize(
    "script, args, name",
    [
        ("plot_ground.py", [CATALOGUE, 25544], "ground-25544.png"),
        ("plot_conjunctions.py", [ROOT / "examples" / "data" / "real" / "gpredict-2018.tle", 0.5, 20], "conjunctions.png"),
    ],
)
def test_new_plots_write_pngs(tmp_path, script, args, name):
    import matplotlib.image

    out = tmp_path / name
    proc = run(ROOT / "examples" / script, *args, out)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip().splitlines()[-1] == f"wrote {out}"
    image = matplotlib.image.imread(out)
    assert image.shape[0] > 300 and image.shape[1] > 600


@not_sanitized
def test_conjunction_example_lists_the_closest_events():
    proc = run(ROOT / "examples" / "plot_conjunctions.py", ROOT / "examples" / "data" / "real" / "gpredict-2018.tle",
               0.5, 20, pathlib.Path(tempfile.mkdtemp()) / "c.png")
    assert proc.returncode == 0, proc.stderr
    lines = proc.stdout.splitlines()
    count = int(lines[0].split()[0])
    rows = lines[2 : 2 + min(10, count)]
    misses = [float(row.split()[1]) for row in rows]
    assert count > 0 and misses == sorted(misses) and all(0 <= m < 20_000 for m in misses)
