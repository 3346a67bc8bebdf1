"""The last stage: one renderer per output format, tables for people, CSV and JSON for
programs.

A renderer only writes. It is handed each file's view in turn, already
shaped, and takes the numbers it writes from ``pykora.cli.cells``, a chunk at
a time; ``add`` writes one file's part of the document, ``close`` ends it.
"""

from __future__ import annotations

from typing import Protocol

from pykora.cli.output import Writer
from pykora.cli.render.csv import CsvDocument
from pykora.cli.render.json import JsonDocument
from pykora.cli.render.table import TableDocument
from pykora.cli.view import FileView


class Document(Protocol):
    def add(self, shown: FileView) -> None: ...

    def close(self) -> None: ...


class DocumentType(Protocol):
    def __call__(self, out: Writer, view: str, several: bool) -> Document: ...


DOCUMENTS: dict[str, DocumentType] = {
    "table": TableDocument,
    "csv": CsvDocument,
    "json": JsonDocument,
}
