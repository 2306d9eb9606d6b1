"""The README and the guides as their readers see them."""
import html
import re
import shutil
import subprocess
import unittest
from pathlib import Path

from test_program_file import BIN

# The Python with Python-Markdown that makes the release's pages.
PAGES_PYTHON = re.search(r'CPACK_FRAMELATCH_PYTHON "([^"]*)"', (BIN / "CPackConfig.cmake").read_text()).group(1)
SOURCE = Path(__file__).resolve().parents[2]
PAGES = [SOURCE / "README.md", *sorted((SOURCE / "docs").glob("*.md"))]


def emphasis_and_stray_markers(page):
    """What a rendered page shows in bold or italics, and the lines of its text
    (outside code) that show a Markdown emphasis marker."""
    emphasis = [(tag, html.unescape(inner)) for tag, inner in re.findall(r"<(strong|em)>(.*?)</\1>", page, re.S)]
    text = html.unescape(re.sub(r"<[^>]+>", "", re.sub(r"<(pre|code)>.*?</\1>", "", page, flags=re.S)))
    return emphasis, [line for line in text.splitlines() if "*" in line or "__" in line]


def python_markdown(text):
    script = ("import sys, markdown; sys.stdout.write(markdown.markdown(sys.stdin.read(), "
              "extensions=['tables', 'fenced_code']))")
    return subprocess.run([PAGES_PYTHON, "-c", script], input=text, capture_output=True, text=True, check=True).stdout


class Guides(unittest.TestCase):
    """The README, the guides and the maintainers' pages as their readers see
    them: under CommonMark, as the repository's web view renders them, and under
    Python-Markdown, as the release's pages are made."""

    def test_render_alike_under_commonmark_and_python_markdown_with_no_stray_emphasis_markers(self):
        if not shutil.which("cmark-gfm"):
            self.skipTest("cmark-gfm not installed (scripts/install-deps.sh installs it)")
        for page in PAGES:
            with self.subTest(page.name):
                text = page.read_text(encoding="utf-8")
                pages = {"CommonMark": subprocess.run(["cmark-gfm", "--extension", "table"], input=text,
                                                      capture_output=True, text=True, check=True).stdout,
                         "Python-Markdown": python_markdown(text)}
                (commonmark, commonmark_stray), (python, python_stray) = map(emphasis_and_stray_markers,
                                                                             pages.values())
                self.assertEqual(commonmark_stray, [], "markers shown under CommonMark")
                self.assertEqual(python_stray, [], "markers shown under Python-Markdown")
                self.assertEqual(commonmark, python, "bold or italics differ between the two")

    def test_every_link_and_picture_in_the_repository_leads_to_a_file_of_it(self):
        followed = 0
        for page in PAGES:
            with self.subTest(page.name):
                targets = re.findall(r'(?:href|src)="([^"]*)"', python_markdown(page.read_text(encoding="utf-8")))
                for target in (html.unescape(t).split("#")[0] for t in targets if not re.match(r"[a-z]+:|#", t)):
                    self.assertTrue((page.parent / target).is_file(), f"{target} leads nowhere")
                    followed += 1
        self.assertGreater(followed, len(PAGES), "the pages' links were not found")


if __name__ == "__main__":
    unittest.main()
