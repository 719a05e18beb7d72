"""quorvane.propagators."""
