"""Fixtures of the duoline tests."""

import pytest


@pytest.fixture(scope="session")
def duoline():
    from quorvane.propagators.analytical.sgp4 import duoline

    return duoline


@pytest.fixture
def earth():
    """quorvane's Earth, with GM and Re restored after the test."""
    from quorvane.bodies.bodies import Earth

    saved = Earth.GM, Earth.Re
    yield Earth
    Earth.GM, Earth.Re = saved
