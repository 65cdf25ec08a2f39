"""The documentation's examples run against the installed module.

Every ```python block of docs/ and of the README runs, in page order with one
namespace per page: a block that starts with `>>>` as a doctest (its printed
results and exception texts must match), any other block as plain code. Every message in
a page's table of errors must also appear in that page's examples, so that no
documented text goes unchecked. The type stubs' docstrings, which editors
show on hover, must name what the reference pages name."""

import ast
import doctest
import pathlib
import re

import pytest

import mirelon_core_py

DOCS = pathlib.Path(__file__).resolve().parents[2] / "docs"
STUBS = pathlib.Path(__file__).resolve().parents[1] / "stubs/mirelon_core_py-stubs/__init__.pyi"
PAGES = sorted(DOCS.rglob("*.md")) + [DOCS.parent / "README.md"]  # as on the package index
BLOCK = re.compile(r"^```python\n(.*?)^```$", re.M | re.S)


def blocks(page):
    return BLOCK.findall(page.read_text(encoding="utf-8"))


def run_page(page):
    namespace = {"__name__": f"docs.{page.stem}"}
    parser = doctest.DocTestParser()
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    outputs = []
    for number, code in enumerate(blocks(page), 1):
        name = f"{page.relative_to(DOCS.parent)} block {number}"
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


@pytest.mark.parametrize("page", PAGES, ids=[str(p.relative_to(DOCS.parent)) for p in PAGES])
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


def section(text, heading):
    """A page's section up to the next heading, or a docstring's indented block."""
    end = "^#" if heading.startswith("#") else r"^\S"
    found = re.search(rf"^{re.escape(heading)}\n(.*?)(?={end}|\Z)", text, re.M | re.S)
    return found.group(1) if found else ""


def exception_names(table):
    """The last dotted part of each exception in the first column of a table."""
    rows = re.findall(r"^\| `?([\w.]+)`? \|", table, re.M)
    return {row.rsplit(".", 1)[-1] for row in rows if row != "exception"}


@pytest.mark.parametrize("name", mirelon_core_py.__all__)
def test_stub_docstring_names_the_pages_parameters_and_exceptions(name):
    tree = ast.parse(STUBS.read_text(encoding="utf-8"))
    function = next(f for f in tree.body if isinstance(f, ast.FunctionDef) and f.name == name)
    doc = ast.get_docstring(function) or ""
    page = (DOCS / "reference" / f"{name}.md").read_text(encoding="utf-8")
    index = (DOCS / "reference" / "README.md").read_text(encoding="utf-8")
    assert doc.partition("\n")[0].endswith("."), f"{name}: no purpose line"
    assert section(doc, "Returns:").strip(), f"{name}: no result"
    args = [a.arg for a in function.args.args] + [f"*{a.arg}" for a in [function.args.vararg] if a]
    assert re.findall(r"^ {4}(\*?\w+):", section(doc, "Args:"), re.M) == args
    assert set(re.findall(r"^\| `(\w+)` \|", section(page, "## Parameters"), re.M)) <= set(args)
    documented = exception_names(section(page, "## Errors"))
    shared = exception_names(section(index, "## Errors every function can raise"))
    raised = set(re.findall(r"^ {4}(\w+):", section(doc, "Raises:"), re.M))
    assert documented and documented <= raised <= documented | shared, (documented, raised)
