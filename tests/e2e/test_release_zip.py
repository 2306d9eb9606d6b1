"""The release zip a player downloads: what it holds, its pages' links, its
text files' line ends, and SHA256SUMS beside it."""
import hashlib
import re
import tempfile
import unittest
import zipfile
from html.parser import HTMLParser
from pathlib import Path

from test_program_file import EXE, make_release


class PageLinks(HTMLParser):
    """The ids of a page's elements, and where its links and pictures lead."""

    def __init__(self, text):
        super().__init__()
        self.ids, self.targets, self.charset = set(), [], None
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            self.ids.add(attrs["id"])
        if tag == "meta" and "charset" in attrs:
            self.charset = attrs["charset"]
        self.targets += [(tag, attrs[name]) for name in ("href", "src") if name in attrs]


class ReleaseZip(unittest.TestCase):
    """The zip a player downloads and opens on Windows, made by CPack into a folder of its own."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.folder.cleanup)
        make_release(cls.folder.name).check_returncode()
        cls.zip = next(Path(cls.folder.name).glob("Framelatch-*.zip"))
        with zipfile.ZipFile(cls.zip) as archive:
            cls.files = {name: archive.read(name) for name in archive.namelist()}

    def test_holds_the_program_the_two_guides_and_the_licence_and_is_listed_in_the_sums(self):
        self.assertEqual(sorted(self.files), ["Framelatch.exe", "LICENSE.txt", "README-en.html", "README-ja.html"])
        self.assertEqual(self.files["Framelatch.exe"], EXE.read_bytes())
        sums = (self.zip.parent / "SHA256SUMS").read_text()
        self.assertIn(f"{hashlib.sha256(self.zip.read_bytes()).hexdigest()}  {self.zip.name}\n", sums)

    def test_pages_declare_utf8_link_each_other_and_lead_nowhere_outside_the_zip(self):
        for name, other in (("README-ja.html", "README-en.html"), ("README-en.html", "README-ja.html")):
            with self.subTest(name):
                page = PageLinks(self.files[name].decode("utf-8"))
                self.assertEqual((page.charset or "").lower(), "utf-8")
                self.assertIn(("a", other), page.targets, "the page links to the other language's")
                pictures = [target for tag, target in page.targets if tag == "img"]
                self.assertTrue(pictures, "no pictures")
                for tag, target in page.targets:
                    if target.startswith("#"):
                        self.assertIn(target[1:], page.ids, f"{tag} leads to no place in the page")
                    elif target.startswith("data:image/png;base64,"):
                        self.assertTrue(target.startswith("data:image/png;base64,iVBORw0KGgo"), "not a PNG")
                    else:
                        self.assertIn(target, self.files, f"{tag} leads outside the zip")

    def test_text_files_have_crlf_line_ends_and_a_byte_order_mark(self):
        texts = {name: data for name, data in self.files.items() if name.endswith(".txt")}
        self.assertIn("LICENSE.txt", texts)
        for name, data in texts.items():
            with self.subTest(name):
                self.assertTrue(data.startswith(b"\xef\xbb\xbf"), "no UTF-8 byte-order mark")
                self.assertIn(b"\r\n", data)
                self.assertIsNone(re.search(rb"(?<!\r)\n", data), "a bare LF line end")


if __name__ == "__main__":
    unittest.main()
