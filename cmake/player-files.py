"""Makes the files of the release zip that a player opens with a double-click on
Windows, from the repository's own sources:

  README-ja.html, README-en.html  the user guides in docs/, rendered by
                                  Python-Markdown, each one self-contained page
                                  with its pictures embedded and the other linked
  LICENSE.txt                     the licence, with CRLF line ends and a UTF-8
                                  byte-order mark, as every Notepad reads it

    python3 player-files.py SOURCE_DIR OUTPUT_DIR

What only makes sense in the repository is kept out of the pages: the parts of
a guide between <!-- repository-only --> and <!-- /repository-only -->. A link
the zip cannot follow fails the run.
"""
import base64
import html
import re
import sys
from pathlib import Path

import markdown
from markdown.extensions.toc import TocExtension, slugify_unicode

# Guide in the repository -> page in the zip, and the page's language.
GUIDES = {"README.ja.md": ("README-ja.html", "ja"), "user-guide.md": ("README-en.html", "en")}

# Japanese and full-width characters.
WIDE = "\u3000-\u30ff\u4e00-\u9fff\uff00-\uffef"

STYLE = """
body { font-family: "Segoe UI", "Yu Gothic UI", Meiryo, sans-serif; max-width: 52em; margin: 2em auto;
       padding: 0 1em; line-height: 1.6; color: #222; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #bbb; padding: .4em .6em; vertical-align: top; text-align: left; }
th { background: #eee; white-space: nowrap; }
code, pre { font-family: Consolas, "MS Gothic", monospace; background: #f4f4f4; }
pre { padding: .6em; overflow-x: auto; }
img { max-width: 100%; }
""".strip()


def without_repository_parts(text):
    return re.sub(r"<!-- repository-only -->.*?<!-- /repository-only -->\n?", "", text, flags=re.DOTALL)


def page(guide):
    _, language = GUIDES[guide.name]
    text = without_repository_parts(guide.read_text(encoding="utf-8"))
    body = markdown.markdown(text, extensions=["tables", "fenced_code",
                                               TocExtension(slugify=slugify_unicode, permalink=False)])

    def link(match):
        attribute, target = match.group(1), html.unescape(match.group(2))
        if target.startswith("#"):
            return match.group(0)
        if target in GUIDES:
            return f'{attribute}="{GUIDES[target][0]}"'
        if attribute == "src" and target.startswith("images/"):
            data = base64.b64encode((guide.parent / target).read_bytes()).decode("ascii")
            return f'src="data:image/png;base64,{data}"'
        raise SystemExit(f"{guide.name}: {attribute}={target!r} leads outside the zip; mark it repository-only")

    body = re.sub(r'\b(href|src)="([^"]*)"', link, body)
    # A line break in Japanese text is no space; a browser would show one.
    parts = re.split(r"(<pre>.*?</pre>)", body, flags=re.DOTALL)
    body = "".join(part if part.startswith("<pre>") else re.sub(rf"(?<=[{WIDE}])\n[ \t]*", "", part)
                   for part in parts)
    title = html.escape(re.search(r"^# (.+)$", text, re.MULTILINE).group(1))
    return (f'<!DOCTYPE html>\n<html lang="{language}">\n<head>\n<meta charset="utf-8">\n'
            f'<meta name="viewport" content="width=device-width, initial-scale=1">\n<title>{title}</title>\n'
            f"<style>\n{STYLE}\n</style>\n</head>\n<body>\n{body}\n</body>\n</html>\n")


def main(source, output):
    output.mkdir(parents=True, exist_ok=True)
    for name, (page_name, _) in GUIDES.items():
        (output / page_name).write_text(page(source / "docs" / name), encoding="utf-8", newline="\n")
    licence = (source / "LICENSE").read_text(encoding="utf-8").replace("\r\n", "\n").replace("\n", "\r\n")
    (output / "LICENSE.txt").write_bytes(b"\xef\xbb\xbf" + licence.encode("utf-8"))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit("usage: player-files.py SOURCE_DIR OUTPUT_DIR")
    main(Path(sys.argv[1]), Path(sys.argv[2]))
