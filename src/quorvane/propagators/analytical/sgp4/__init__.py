"""quorvane.propagators.analytical.sgp4."""
