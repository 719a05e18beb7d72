"""quorvane.mathtools."""
