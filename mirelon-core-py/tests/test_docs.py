"""The documentation's examples run against the installed module.

Every ```python block of docs/ runs, in page order with one namespace per
page: a block that starts with `>>>` as a doctest (its printed results and
exception texts must match), any other block as plain code. Every message in
a page's table of errors must also appear in that page's examples, so that no
documented text goes unchecked."""

import doctest
import pathlib
import re

import pytest

import mirelon_core_py

DOCS = pathlib.Path(__file__).resolve().parents[2] / "docs"
PAGES = sorted(DOCS.rglob("*.md"))
BLOCK = re.compile(r"^```python\n(.*?)^```$", re.M | re.S)


def blocks(page):
    return BLOCK.findall(page.read_text(encoding="utf-8"))


def run_page(page):
    namespace = {"__name__": f"docs.{page.stem}"}
    parser = doctest.DocTestParser()
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    outputs = []
    for number, code in enumerate(blocks(page), 1):
        name = f"{page.relative_to(DOCS)} block {number}"
        if code.lstrip().startswith(">>>"):
            test = parser.get_doctest(code, namespace, name, str(page), 0)
            failures_before = runner.failures
            report = []
            runner.run(test, out=report.append, clear_globs=False)
            assert runner.failures == failures_before, "".join(report)
            outputs.extend(example.want + (example.exc_msg or "") for example in test.examples)
        else:
            exec(compile(code, name, "exec"), namespace)
    return "".join(outputs)


@pytest.mark.parametrize("page", PAGES, ids=[str(p.relative_to(DOCS)) for p in PAGES])
def test_examples_run_and_documented_errors_are_shown(page):
    outputs = run_page(page)
    for message in documented_errors(page):
        pattern = re.escape(message)
        pattern = re.sub(r"\\\{[^}]*\\\}", ".+?", pattern)
        assert re.search(pattern, outputs), f"{page.name}: no example shows {message!r}"


def documented_errors(page):
    """The messages in backticks of the rows of a page's errors table."""
    text = page.read_text(encoding="utf-8")
    section = re.search(r"^## Errors.*?(?=^## |\Z)", text, re.M | re.S)
    if not section:
        return []
    messages = []
    for row in re.findall(r"^\|(.*)\|$", section.group(0), re.M):
        cells = [cell.strip() for cell in row.split("|")]
        # A failure no example can bring about says so in its row.
        if len(cells) >= 2 and "cannot be provoked" not in row:
            # `text`, or ``text`` when the text holds a backtick
            code = re.fullmatch(r"(`+) ?(.+?) ?\1", cells[1])
            if code:
                messages.append(code.group(2))
    return messages


@pytest.mark.parametrize("name", mirelon_core_py.__all__)
def test_every_function_has_a_reference_page(name):
    page = DOCS / "reference" / f"{name}.md"
    text = page.read_text(encoding="utf-8")
    assert text.startswith(f"# `{name}`\n")
    for section in ("## Parameters", "## Result", "## Errors", "## Example"):
        assert section in text, f"{page.name} lacks {section}"
    assert blocks(page), f"{page.name} has no runnable example"
