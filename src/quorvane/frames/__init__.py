"""quorvane.frames."""
