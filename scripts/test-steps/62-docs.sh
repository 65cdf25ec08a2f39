# The documentation site: built with --strict (a broken link between pages, a
# page left out of the navigation, a missing snippet or picture fails), then
# every link and image of the built pages must point at a file of the site,
# and no script, style sheet, font or image may come from another site.
set -euo pipefail
start=$SECONDS
NO_MKDOCS_2_WARNING=1 .venv/bin/mkdocs build --strict --quiet --site-dir build/site
.venv/bin/python - build/site <<'EOF_PY'
import html.parser
import pathlib
import sys
import urllib.parse

site = pathlib.Path(sys.argv[1])


class Links(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.targets = []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        for name in ("href", "src"):
            if attrs.get(name):
                # What the page loads itself, as opposed to what a reader may follow.
                loaded = name == "src" or tag == "link" and attrs.get("rel") != "canonical"
                self.targets.append((attrs[name], loaded))


pages = sorted(site.rglob("*.html"))
broken = []
for page in pages:
    parser = Links()
    parser.feed(page.read_text(encoding="utf-8"))
    for target, loaded in parser.targets:
        url = urllib.parse.urlsplit(target)
        if url.scheme or url.netloc:
            if loaded:
                broken.append(f"{page.relative_to(site)} loads {target} from the network")
            continue
        if not url.path:  # an anchor on the same page
            continue
        path = urllib.parse.unquote(url.path)  # 404.html links from the site's root
        base = site if path.startswith("/") else page.parent
        if not (base / path.lstrip("/")).resolve().exists():
            broken.append(f"{page.relative_to(site)} -> {target}")
if broken:
    sys.exit("broken or external links:\n  " + "\n  ".join(broken))
pictures = sorted(str(p.relative_to(site)) for p in site.rglob("*.svg") if "assets" not in p.parts)
print(f"site: {len(pages)} pages, no broken links, nothing loaded from the network; drawn at build time: {', '.join(pictures)}")
EOF_PY
echo "docs built and checked in $((SECONDS - start)) s"
