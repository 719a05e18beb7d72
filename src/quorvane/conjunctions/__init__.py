"""Conjunction screening of whole catalogues."""
