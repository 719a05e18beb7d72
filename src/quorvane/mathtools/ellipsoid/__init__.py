"""quorvane.mathtools.ellipsoid."""
