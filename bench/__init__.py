"""Benchmarks, run by hand from the checkout's top: python -m bench.<name>."""
