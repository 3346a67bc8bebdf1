"""The commands, one module each, in the order ``--help`` lists them.

A command module holds its ``NAME``, ``HELP`` and ``DESCRIPTION``, states
its arguments (``add_arguments``, each checked as it is parsed, so that a bad
value is a usage error whatever is installed), says what is wrong with
arguments that are right alone but not together (``check``), and does its
job (``run(args, out) -> exit status``).
"""

from __future__ import annotations

from pykora.cli.commands import example, options, plot, show
from pykora.cli.parser import Command

COMMANDS: tuple[Command, ...] = (show, plot, options, example)
