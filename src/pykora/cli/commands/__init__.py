"""One module per command, each with ``run(args, out) -> exit status``."""
