"""Helpers the tests, the benchmarks and the tools share: the plain-Python
references, comparisons and strategies."""
