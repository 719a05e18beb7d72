"""What the installed distribution tells a user: licence, platform, typing."""

from importlib import metadata

import pytest

DIST = metadata.distribution("quorvane")


def test_license_file_ships_with_the_distribution():
    assert DIST.metadata["License-Expression"] == "MIT"
    licence = [f for f in DIST.files if f.parts[-2:] == ("licenses", "LICENSE")]
    assert len(licence) == 1
    text = licence[0].read_text()
    assert text.startswith("MIT License") and "Permission is hereby granted" in text


@pytest.mark.parametrize(
    "classifier",
    ["Operating System :: POSIX :: Linux", "Programming Language :: Python :: 3.12", "Typing :: Typed",
     "Topic :: Scientific/Engineering :: Astronomy"],
)
def test_classifiers(classifier):
    assert classifier in DIST.metadata.get_all("Classifier")
