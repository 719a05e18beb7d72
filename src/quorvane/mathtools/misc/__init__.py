"""quorvane.mathtools.misc."""
