"""What the installed distribution tells a user: licence, platform, typing."""

import sys
from importlib import metadata

import pytest
from packaging.specifiers import SpecifierSet

DIST = metadata.distribution("quorvane")


def test_license_file_ships_with_the_distribution():
    assert DIST.metadata["License-Expression"] == "MIT"
    licence = [f for f in DIST.files if f.parts[-2:] == ("licenses", "LICENSE")]
    assert len(licence) == 1
    text = licence[0].read_text()
    assert text.startswith("MIT License") and "Permission is hereby granted" in text


@pytest.mark.parametrize(
    "classifier",
    ["Operating System :: POSIX :: Linux", "Programming Language :: Python :: 3.12",
     "Programming Language :: Python :: 3.13", "Typing :: Typed", "Topic :: Scientific/Engineering :: Astronomy"],
)
def test_classifiers(classifier):
    assert classifier in DIST.metadata.get_all("Classifier")


@pytest.mark.parametrize("version, supported", [("3.11", False), ("3.12", True), ("3.13", True), ("3.14", False)])
def test_requires_python_names_the_tested_versions(version, supported):
    # make test builds and tests 3.12 and 3.13; pip refuses the others.
    assert SpecifierSet(DIST.metadata["Requires-Python"]).contains(version) is supported


def test_this_python_is_one_the_distribution_supports_and_names():
    version = "%d.%d" % sys.version_info[:2]
    assert SpecifierSet(DIST.metadata["Requires-Python"]).contains(version)
    assert f"Programming Language :: Python :: {version}" in DIST.metadata.get_all("Classifier")


@pytest.mark.parametrize("field", ["bstar", "ndot", "nddot"])
def test_the_description_gives_the_units_the_table_keeps_for_published_fields(field):
    # The README (the distribution's description) says everything is SI but
    # these fields, and gives each one's unit as the table's column does.
    from quorvane import Catalogue

    unit = Catalogue.__dict__[field].__doc__.removesuffix(", as published.").rpartition(", ")[2]
    unit = unit.replace("^2", "²").replace("^3", "³")
    (units,) = [p for p in DIST.metadata["Description"].split("\n\n") if p.startswith("Units: everything is SI")]
    (clause,) = [c for c in " ".join(units.split()).split(";") if f"`{field}`" in c]
    assert unit in clause, clause
