"""Tests of pykora.binary."""
