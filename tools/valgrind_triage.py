"""Sorts a memcheck log into the reports that are pykora's and the rest.

    python tools/valgrind_triage.py build/valgrind.log

A report is pykora's when pykora's own code is at the top of its stack: one
of the frames above the first frame of the interpreter's eval loop belongs to
pykora's extension modules. A fault in pykora's code, or in an interpreter or
NumPy routine that pykora called directly, has such a frame there. What the
interpreter or NumPy do on their own account while running Python code (the
uninitialised-value reports raised inside `import numpy`, which the module's
import runs) has Python frames between it and pykora, and is not counted.

The same rule is applied to the stack where an uninitialised value was
created (--track-origins), so that a buffer pykora left unwritten is caught
even when Python code is the first to read it, and to the allocation stack of
each definitely lost block. Exits 1 when any report is pykora's.
"""

import re
import sys

OURS = re.compile(r"(binary|options)\.cpython-[^ )]*\.so|pykora::")
EVAL_LOOP = re.compile(r"_PyEval_EvalFrameDefault|_PyEval_EvalFrame\b|_PyEval_Vector")
ERROR = re.compile(
    r"Invalid (read|write|free)|uninitialised|Mismatched free|overlap|"
    r"Syscall param|Argument 'size'|Jump to the invalid address"
)


def stacks(record):
    """The record's stacks, each a list of frame lines, top first."""
    found, current = [], []
    for line in record.splitlines():
        text = line.split("== ", 1)[-1].strip()
        if re.match(r"(at|by) 0x", text):
            current.append(text)
        elif current:
            found.append(current)
            current = []
    if current:
        found.append(current)
    return found


def ours_on_top(stack):
    for frame in stack:
        if EVAL_LOOP.search(frame):
            return False
        if OURS.search(frame):
            return True
    return False


def main(path):
    text = open(path).read()
    records = re.split(r"\n==\d+== \n", text)
    leaks = [r for r in records if "definitely lost" in r and "loss record" in r]
    errors = [r for r in records if ERROR.search(r) and "loss record" not in r]
    # A leak is judged by the stack that allocated the block; an error by the
    # stack where it happened and, for uninitialised values, where they came from.
    our_leaks = [r for r in leaks if any(ours_on_top(s) for s in stacks(r)[:1])]
    our_errors = [r for r in errors if any(ours_on_top(s) for s in stacks(r))]
    summary = re.search(r"definitely lost: [^\n]*", text)
    print("whole process:", summary.group(0) if summary else "no leak summary")
    print(f"definitely lost records with pykora on top: {len(our_leaks)} (of {len(leaks)})")
    print(f"memory errors with pykora on top: {len(our_errors)} (of {len(errors)})")
    for record in our_leaks + our_errors:
        print(record)
    return 1 if our_leaks or our_errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
