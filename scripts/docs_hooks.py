"""Build-time pictures and search index of the documentation site (mkdocs
hooks, see mkdocs.yml).

Pictures are made from sources kept in docs/, never committed as binaries:
every docs/diagrams/NAME.dot becomes diagrams/NAME.svg through Graphviz's
`dot`, and docs/performance-throughput.csv becomes performance-throughput.svg
through matplotlib. They are added to the site as generated files, so nothing
is written into docs/ and pages link to them like to any other file.
"""

from __future__ import annotations

import csv
import io
import pathlib
import shutil
import subprocess

from mkdocs.structure.files import File

THROUGHPUT_DATA = "performance-throughput.csv"


def on_files(files, config):
    docs = pathlib.Path(config["docs_dir"])
    for source in sorted((docs / "diagrams").glob("*.dot")):
        svg = render_dot(source)
        files.append(File.generated(config, f"diagrams/{source.stem}.svg", content=svg))
    data = docs / THROUGHPUT_DATA
    if data.exists():
        svg = plot_throughput(data.read_text(encoding="utf-8"))
        files.append(File.generated(config, data.with_suffix(".svg").name, content=svg))
    return files


def on_post_build(config):
    """The search index as a script as well: a page opened from a file may load
    a script but not fetch a JSON file, and the theme loads this one there."""
    index = pathlib.Path(config["site_dir"]) / "search" / "search_index.json"
    if index.exists():
        script = "var __index = " + index.read_text(encoding="utf-8")
        index.with_suffix(".js").write_text(script, encoding="utf-8")


def render_dot(source: pathlib.Path) -> str:
    dot = shutil.which("dot")
    if dot is None:
        raise RuntimeError(f"{source.name}: Graphviz's dot is missing (apt-get install graphviz)")
    run = subprocess.run([dot, "-Tsvg", str(source)], capture_output=True, text=True)
    if run.returncode != 0:
        raise RuntimeError(f"dot failed on {source.name}: {run.stderr.strip()}")
    return run.stdout


def plot_throughput(text: str) -> str:
    """Throughput against size, one panel per worker count, one line per
    function; the legend sits below the panels, clear of the lines."""
    import matplotlib

    matplotlib.use("agg")
    import matplotlib.pyplot as plt

    # Identical input gives an identical file: no date, fixed element ids.
    plt.rcParams.update({"svg.hashsalt": "throughput", "svg.fonttype": "none", "font.size": 12})
    rows = list(csv.DictReader(io.StringIO(text)))
    workers = sorted({int(row["workers"]) for row in rows})
    functions = list(dict.fromkeys(row["function"] for row in rows))
    figure, axes = plt.subplots(1, len(workers), figsize=(9, 4.8), sharey=True)
    for panel, count in zip(axes, workers):
        for function in functions:
            points = sorted(
                (float(row["mib"]), float(row["mib"]) * 1.048576e-3 / (float(row["ms"]) / 1e3))
                for row in rows
                if row["function"] == function and int(row["workers"]) == count
            )
            sizes, rates = zip(*points)
            panel.plot(sizes, rates, marker="o", label=function)
        panel.set_xscale("log", base=2)
        panel.set_yscale("log")
        ticks = [0.1, 0.3, 1, 3, 10, 30]
        panel.set_yticks(ticks, [f"{t:g}" for t in ticks])
        panel.minorticks_off()
        panel.set_xticks([1, 16, 64], ["1 MiB", "16 MiB", "64 MiB"])
        panel.set_title(f"{count} worker{'s' if count > 1 else ''}")
        panel.set_xlabel("packet, or data per party")
        panel.grid(True, alpha=0.3)
    axes[0].set_ylabel("GB/s (log scale)")
    handles, labels = axes[0].get_legend_handles_labels()
    figure.legend(handles, labels, loc="lower center", ncol=2, frameon=False)
    figure.tight_layout(rect=(0, 0.2, 1, 1))
    out = io.StringIO()
    figure.savefig(out, format="svg", metadata={"Date": None})
    plt.close(figure)
    return out.getvalue()
