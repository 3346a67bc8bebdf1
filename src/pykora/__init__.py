"""Python driver for the kora statistical engine.

The native core lives in two extension modules that load on first use:

* ``pykora.binary`` decodes the engine's result files and flattened vectors;
* ``pykora.options`` holds the package's global options.

Importing ``pykora`` itself stays light: it loads neither NumPy nor the
extension modules.
"""

__version__ = "0.1.0"
