"""pykora's test suite: one folder per part, shared helpers in support/."""
