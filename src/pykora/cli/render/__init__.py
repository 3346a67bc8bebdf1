"""One renderer per output format: tables for people, CSV and JSON for programs."""
