"""The documented Dask recipe: catalogue files read on worker processes give
exactly the table read in one process."""

import pathlib

import pytest

from markers import not_sanitized
from quorvane.propagators.analytical.sgp4.catalogue import Catalogue, read_catalogue

DATA = pathlib.Path(__file__).resolve().parents[2] / "examples" / "data"
PATHS = [str(p) for p in sorted((DATA / "real").glob("*.tle"))] + [str(DATA / "stations.tle")]


@not_sanitized
# One LocalCluster at a time on the machine, when the suite runs on parallel workers.
@pytest.mark.xdist_group("dask")
def test_files_read_on_a_local_cluster_make_the_single_process_table():
    distributed = pytest.importorskip("dask.distributed")
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
    ) as cluster, distributed.Client(cluster) as client:
        tables = client.gather(client.map(read_catalogue, PATHS))
    table = Catalogue.concat(tables)
    assert table == Catalogue.concat(read_catalogue(path) for path in PATHS)
    assert len(table) == 1511 + 12
