"""Plot a satellite's ground track on a world map and a station's sky chart.

Usage: python examples/plot_ground.py FILE [SATNO] [OUT.png]

Propagates satellite SATNO (default 25544, the ISS) of FILE with SGP4 over
the six hours after its latest epoch, straight into the Earth-fixed frame
(ITRF, with the IERS Earth orientation data the package carries), and turns
the positions into geodetic latitude and longitude on WGS84.  The left panel
draws that ground track over a Natural Earth map with its coastlines (an
image cartopy ships; nothing is downloaded); the right panel is the sky of
a ground station in Darmstadt over one day: every pass of the satellite as
a line from rise to set (azimuth around, elevation inward), culminations
marked.  OUT.png defaults to a file in a new temporary directory.  Needs
matplotlib and cartopy (pip install '.[plot]').
"""

import importlib.util
import pathlib
import sys
import tempfile

import matplotlib

matplotlib.use("Agg")  # files only; no display needed
import matplotlib.pyplot as plt
import numpy as np

from quorvane.frames.frames import ITRF
from quorvane.mathtools.ellipsoid.ellipsoid import WGS84
from quorvane.observers import Station, passes
from quorvane.propagators.analytical.sgp4.catalogue import read_catalogue
from quorvane.propagators.analytical.sgp4.propagator import SGP4
from quorvane.units import units

STATION = Station(49.871 * units.deg, 8.622 * units.deg, 140.0, name="Darmstadt")


def world_image():
    """Natural Earth shaded relief (720 × 360, plate carrée) as cartopy ships it."""
    spec = importlib.util.find_spec("cartopy")  # located, not imported
    folder = pathlib.Path(spec.submodule_search_locations[0]) / "data" / "raster" / "natural_earth"
    return plt.imread(folder / "50-natural-earth-1-downsampled.png")


def draw_map(ax, image):
    ax.imshow(image, extent=(-180, 180, -90, 90), origin="upper", alpha=0.8)
    # Coastlines: the edge between the image's sea colour (blue well above
    # red) and everything else.
    sea = (image[..., 2] - image[..., 0]) > 0.2
    lon = np.linspace(-180, 180, image.shape[1])
    lat = np.linspace(90, -90, image.shape[0])
    ax.contour(lon, lat, sea.astype(float), levels=[0.5], colors="k", linewidths=0.4)
    ax.set_xlim(-180, 180)
    ax.set_ylim(-90, 90)
    ax.set_xticks(range(-180, 181, 60))
    ax.set_yticks(range(-90, 91, 30))
    ax.set_xlabel("longitude [deg]")
    ax.set_ylabel("geodetic latitude [deg]")


def ground_track(prop, start, hours=6.0):
    times = start + np.arange(int(hours * 60)) * np.timedelta64(1, "m")
    r, _, err = prop.propagate(times, frame=ITRF)
    lat, lon, height = WGS84.geodetic(r[0])  # the one set of the propagator
    lat, lon = np.degrees(lat), np.degrees(lon)
    # Break the line where it wraps around the date line.
    wrap = np.abs(np.diff(lon)) > 180
    lon = np.insert(lon, np.nonzero(wrap)[0] + 1, np.nan)
    lat = np.insert(lat, np.nonzero(wrap)[0] + 1, np.nan)
    return lon, lat, int((err != 0).sum())


def sky_chart(ax, prop, start, station):
    stop = start + np.timedelta64(1, "D")
    table = passes(prop, station, start, stop)
    for k in range(len(table)):
        a = table.rise[k] if not np.isnat(table.rise[k]) else start
        b = table.set[k] if not np.isnat(table.set[k]) else stop
        times = a + (b - a) * np.linspace(0.0, 1.0, 60)
        r, _, _ = prop.propagate(times.astype("datetime64[ns]"), frame=ITRF)
        az, el, _, _ = station.look(r[0])
        ax.plot(az, 90 - np.degrees(el), lw=1.0)
        ax.plot(table_azimuth(prop, table, k, station), 90 - np.degrees(table.max_elevation[k]), "k.", ms=4)
    ax.set_theta_zero_location("N")
    ax.set_theta_direction(-1)
    ax.set_rlim(0, 90)
    ax.set_yticks([0, 30, 60, 90])
    ax.set_yticklabels(["90°", "60°", "30°", "0°"])
    ax.set_rlabel_position(112.5)
    ax.set_title(f"{len(table)} passes over {station.name}, one day", pad=12)
    return len(table)


def table_azimuth(prop, table, k, station):
    r, _, _ = prop.propagate(np.array([table.culmination[k]], "datetime64[ns]"), frame=ITRF)
    az, _, _, _ = station.look(r[0, 0])
    return float(az)


def plot(table, index, out):
    prop = SGP4(table.select([index]))
    start = np.datetime64(int(table.epoch_ns[index]), "ns").astype("datetime64[m]").astype("datetime64[ns]")
    fig = plt.figure(figsize=(14, 5), constrained_layout=True)
    left = fig.add_subplot(1, 2, 1)
    right = fig.add_subplot(1, 2, 2, projection="polar")
    draw_map(left, world_image())
    lon, lat, failed = ground_track(prop, start)
    left.plot(lon, lat, color="tab:red", lw=1.2)
    left.plot(np.degrees(STATION.lon), np.degrees(STATION.lat), "y^", ms=8, mec="k")
    name = table.name[index] or str(table.satno[index])
    left.set_title(f"{name}: ground track, six hours from {str(start)[:16]} UTC")
    sky_chart(right, prop, start, STATION)
    fig.savefig(out, dpi=100)
    plt.close(fig)
    return failed


def main(argv):
    if len(argv) < 2 or len(argv) > 4:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    table = read_catalogue(argv[1])
    satno = int(argv[2]) if len(argv) > 2 else 25544
    rows = np.nonzero(table.satno == satno)[0]
    if len(rows) == 0:
        print(f"satellite {satno} is not in {argv[1]}", file=sys.stderr)
        return 1
    index = int(rows[np.argmax(table.epoch_ns[rows])])  # its latest set
    out = pathlib.Path(argv[3]) if len(argv) > 3 else pathlib.Path(tempfile.mkdtemp()) / f"ground-{satno}.png"
    failed = plot(table, index, out)
    if failed:
        print(f"{failed} samples had SGP4 error codes (left out)", file=sys.stderr)
    print(f"wrote {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
