"""quorvane: the top-level names, as their modules define them."""

from quorvane.bodies.bodies import Earth as Earth
from quorvane.bodies.bodies import Moon as Moon
from quorvane.bodies.bodies import Sun as Sun
from quorvane.bodies.bodies import shadow as shadow
from quorvane.conjunctions import Conjunctions as Conjunctions
from quorvane.conjunctions import screen as screen
from quorvane.frames.eop import EOP as EOP
from quorvane.frames.frames import ENU as ENU
from quorvane.frames.frames import GCRF as GCRF
from quorvane.frames.frames import ITRF as ITRF
from quorvane.frames.frames import TEME as TEME
from quorvane.frames.frames import transform as transform
from quorvane.mathtools.ellipsoid.ellipsoid import GRS80 as GRS80
from quorvane.mathtools.ellipsoid.ellipsoid import WGS72 as WGS72
from quorvane.mathtools.ellipsoid.ellipsoid import WGS84 as WGS84
from quorvane.mathtools.ellipsoid.ellipsoid import Ellipsoid as Ellipsoid
from quorvane.observers import Passes as Passes
from quorvane.observers import Station as Station
from quorvane.observers import passes as passes
from quorvane.propagators.analytical.sgp4.catalogue import Catalogue as Catalogue
from quorvane.propagators.analytical.sgp4.catalogue import read_catalogue as read_catalogue
from quorvane.propagators.analytical.sgp4.catalogue import read_elsets as read_elsets
from quorvane.propagators.analytical.sgp4.catalogue import read_records as read_records
from quorvane.propagators.analytical.sgp4.duoline import DUOLINE as DUOLINE
from quorvane.propagators.analytical.sgp4.duoline import ELSET as ELSET
from quorvane.propagators.analytical.sgp4.propagator import SGP4 as SGP4
from quorvane.time.time import Time as Time

__version__: str

def get_include() -> str: ...
def __dir__() -> list[str]: ...

__all__ = [
    "get_include", "__version__",
    "Catalogue", "read_catalogue", "read_records", "read_elsets", "DUOLINE", "ELSET", "SGP4",
    "Time",
    "GCRF", "ITRF", "TEME", "ENU", "transform", "EOP",
    "Station", "passes", "Passes",
    "Earth", "Sun", "Moon", "shadow",
    "Ellipsoid", "WGS84", "WGS72", "GRS80",
    "screen", "Conjunctions",
]
