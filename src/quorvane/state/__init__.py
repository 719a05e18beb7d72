"""quorvane.state."""
