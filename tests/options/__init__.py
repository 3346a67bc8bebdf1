"""Tests of pykora.options."""
