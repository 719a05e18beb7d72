"""quorvane.propagators.analytical."""
