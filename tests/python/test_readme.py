"""The README's Python examples: each ```python block of its Python section printing the ```text
block after it, and the Quick start line."""
import re

import pytest

from conftest import README, run_python


def readme():
    with open(README, encoding="utf-8") as f:
        return f.read()


def python_examples():
    text = readme()
    section = text[text.index("## Python"):]
    section = section[:section.index("\n## ", 1)]
    return re.findall(r"```python\n(.*?)```\n+(?:It prints:\n+)?```text\n(.*?)```", section, re.S)


def test_there_are_examples():
    assert python_examples()


@pytest.mark.parametrize("code, output", python_examples())
def test_example(code, output):
    proc = run_python(code)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout == output


def test_quick_start_line():
    text = readme()
    quick = text[text.index("## Quick start"):]
    quick = quick[:quick.index("\n## ", 1)]
    line = next(l for l in quick.splitlines() if "import tesqsrch" in l)
    code = re.search(r"python3 -c '([^']*)'", line).group(1)
    proc = run_python(code)
    assert proc.stdout == "ISBN\n", proc.stderr
