"""Hardening tools; the Python ones run from the checkout's top: python -m tools.<name>."""
