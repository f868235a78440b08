#!/usr/bin/python3
"""Runs every command-line example of the README and compares its output.

usage: readme_examples.py [--update] README TESQ DATA_DIR

Examples are the ```console blocks of the README. In such a block a line
beginning with "$ " is a command; the commands of a block run by bash, in
order, in one empty temporary directory, with the directory of TESQ first on
PATH. The lines after a command, up to the next command or the end of the
block, are its expected output (standard output and standard error
together). A block opened as ```console no-test is shown
but not run.

--update rewrites the expected outputs in README with what the commands
print now (after the dictionaries or the term list changed); review the diff.

DATA_DIR is the data the tool reads (TESQ_DATA_DIR, when set, takes its
place); without the term database there the test is skipped.
"""
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
FENCE = "```"


def examples(lines):
    """Yields (block number, index of the command line, command, index after
    its output, expected output lines)."""
    in_block = False
    block = 0
    i = 0
    while i < len(lines):
        line = lines[i]
        if not in_block:
            if line.strip() == FENCE + "console":
                in_block = True
                block += 1
            i += 1
            continue
        if line.startswith(FENCE):
            in_block = False
            i += 1
            continue
        if line.startswith("$ "):
            j = i + 1
            while j < len(lines) and not lines[j].startswith("$ ") and not lines[j].startswith(FENCE):
                j += 1
            yield block, i, line[2:], j, lines[i + 1:j]
            i = j
            continue
        i += 1


def run(command, tesq_dir, work):
    env = {k: v for k, v in os.environ.items() if k != "TESQ_DB"}
    env["PATH"] = tesq_dir + os.pathsep + env.get("PATH", "/usr/bin:/bin")
    env["LC_ALL"] = "C.UTF-8"
    proc = subprocess.run(["bash", "-c", command], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          env=env, cwd=work, timeout=300)
    text = proc.stdout.decode("utf-8", errors="replace")
    out = text.split("\n")
    if out and out[-1] == "":
        out.pop()
    return out


def main(argv):
    update = "--update" in argv
    args = [a for a in argv if a != "--update"]
    if len(args) != 3:
        print(__doc__)
        return 2
    readme, tesq, data_dir = args
    tesq_dir = os.path.dirname(os.path.abspath(tesq))
    data_dir = os.environ.get("TESQ_DATA_DIR") or data_dir
    if not os.path.exists(os.path.join(data_dir, "terms.db")):
        print("no term database in %s: build the data first (skipped)" % data_dir)
        return SKIP
    with open(readme, encoding="utf-8") as f:
        lines = f.read().split("\n")

    failures = 0
    count = 0
    replacements = []
    workdirs = {}
    for block, start, command, end, expected in examples(lines):
        count += 1
        if block not in workdirs:
            workdirs[block] = tempfile.mkdtemp(prefix="tesq-readme-")
        got = run(command, tesq_dir, workdirs[block])
        if got == expected:
            continue
        if update:
            replacements.append((start + 1, end, got))
            print("updated: $ %s" % command)
            continue
        failures += 1
        print("README line %d: $ %s" % (start + 1, command))
        print("  expected:")
        print("".join("    | %s\n" % l for l in expected), end="")
        print("  got:")
        print("".join("    | %s\n" % l for l in got), end="")
    for work in workdirs.values():
        shutil.rmtree(work, ignore_errors=True)
    if count == 0:
        print("no ```console examples found in %s" % readme)
        return 1
    if update and replacements:
        for first, end, got in reversed(replacements):
            lines[first:end] = got
        with open(readme, "w", encoding="utf-8") as f:
            f.write("\n".join(lines))
        print("%d of %d examples rewritten in %s" % (len(replacements), count, readme))
        return 0
    print("%d examples, %d differ" % (count, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
