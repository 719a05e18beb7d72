"""quorvane.utils."""
