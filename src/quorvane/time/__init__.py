"""quorvane.time."""
