"""quorvane.mathtools.arqel."""
