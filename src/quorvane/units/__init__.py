"""quorvane.units."""
