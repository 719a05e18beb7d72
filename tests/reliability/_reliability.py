"""Shared pieces of the reliability tests: the counts reported at the end of the run."""

import collections

summary = collections.Counter()
