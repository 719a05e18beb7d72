"""quorvane.bodies."""
