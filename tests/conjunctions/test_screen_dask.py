"""Screening on a Dask LocalCluster of worker processes gives the table of
one process, bit for bit, with one worker and with two."""

import numpy as np
import pytest
from markers import not_sanitized

from quorvane.conjunctions import screen
from quorvane.conjunctions.synthetic import synthetic_catalogue
from quorvane.propagators.analytical.sgp4.propagator import SGP4

START = np.datetime64("2024-01-01T00:00", "ns")


@not_sanitized  # worker processes are fresh interpreters outside the sanitizer's reach
# One LocalCluster at a time on the machine, when the suite runs on parallel workers.
@pytest.mark.xdist_group("dask")
def test_local_cluster_gives_the_single_process_table():
    distributed = pytest.importorskip("dask.distributed")
    table = synthetic_catalogue(2_000, seed=11, epoch=str(START))
    stop = START + np.timedelta64(4, "h")
    mine = SGP4(table.select(np.arange(40)))  # a propagator from a table pickles: against= travels too
    single = screen(table, START, stop, threshold=10_000.0, threads=1)
    against = screen(mine, START, stop, threshold=10_000.0, against=table, threads=1)
    assert len(single) > 0 and len(against) > 0
    for workers in (1, 2):
        with distributed.LocalCluster(
            n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None
        ) as cluster, distributed.Client(cluster) as client:
            assert screen(table, START, stop, threshold=10_000.0, threads=1, client=client) == single
            assert screen(mine, START, stop, threshold=10_000.0, against=table, client=client) == against
