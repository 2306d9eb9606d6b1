"""Framelatch.exe as a file: its PE header, what it imports, its manifest and
version resource; and the release zip it goes out in. Needs no Wine, so it
runs for both builds on every host."""
import hashlib
import html
import http.server
import os
import re
import shutil
import subprocess
import tempfile
import threading
import unittest
import xml.etree.ElementTree as ElementTree
import zipfile
from html.parser import HTMLParser
from pathlib import Path

BIN = Path(os.environ.get("FRAMELATCH_BIN", Path(__file__).resolve().parents[2] / "build" / "windows"))
ARCH = os.environ.get("FRAMELATCH_ARCH", "win32")
OBJDUMP = os.environ.get("FRAMELATCH_OBJDUMP", "i686-w64-mingw32-objdump")
EXE = BIN / "Framelatch.exe"
VERSION = re.search(r'CPACK_PACKAGE_VERSION "([^"]+)"', (BIN / "CPackConfig.cmake").read_text()).group(1)
CPACK = os.environ.get("FRAMELATCH_CPACK", "cpack")
# The Python with Python-Markdown that makes the release's pages.
PAGES_PYTHON = re.search(r'CPACK_FRAMELATCH_PYTHON "([^"]*)"', (BIN / "CPackConfig.cmake").read_text()).group(1)
SOURCE = Path(__file__).resolve().parents[2]

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "msvcrt.dll"}
IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA = 0x0020
IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x0100
IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE = 0x8000

# What each build must be: objdump's name for the format, the optional header's
# magic, and the processor architecture its manifest names.
EXPECTED = {
    "win32": ("pei-i386", "010b", "PE32", "x86"),
    "win64": ("pei-x86-64", "020b", "PE32+", "amd64"),
}

# Every function the program may import, by DLL: what it imports today, each
# one in Windows 7 by the "Minimum supported client" of the Windows
# documentation (Windows 2000, XP or Vista for all of them). The calls that
# Windows 7 lacks (GetDpiForWindow, AdjustWindowRectExForDpi,
# SystemParametersInfoForDpi, EnableNonClientDpiScaling: Windows 10 1607;
# SetDefaultDllDirectories: only with an update) are looked up at run time
# and must never be listed here: a program that imports them does not start there.
WINDOWS_7_IMPORTS = {
    "comctl32.dll": {"InitCommonControlsEx"},
    "gdi32.dll": {
        "CreateCompatibleDC", "CreateDIBSection", "CreateFontIndirectW", "DeleteDC", "DeleteObject",
        "EnumFontFamiliesExW", "ExtTextOutW", "GdiFlush", "GetDeviceCaps", "GetObjectW", "SelectObject",
    },
    "kernel32.dll": {
        "DeleteCriticalSection", "EnterCriticalSection", "FreeLibrary", "GetCurrentThreadId", "GetLastError",
        "GetModuleHandleA", "GetModuleHandleW", "GetProcAddress", "GetStartupInfoW", "InitializeCriticalSection",
        "LeaveCriticalSection", "LoadLibraryA", "MulDiv", "SetDllDirectoryW", "SetLastError",
        "SetUnhandledExceptionFilter", "Sleep", "TlsGetValue", "VirtualProtect", "VirtualQuery",
        "__C_specific_handler",                     # 64-bit structured exception handling
    },
    "user32.dll": {
        "AdjustWindowRectEx", "CallNextHookEx", "CallWindowProcW", "CreateWindowExW", "DefWindowProcW",
        "DestroyWindow", "DispatchMessageW", "DrawTextW", "FindWindowA", "GetClientRect", "GetDC", "GetDlgCtrlID",
        "GetFocus", "GetMessageW", "GetWindow", "GetWindowLongA", "GetWindowLongPtrW", "GetWindowLongW",
        "GetWindowRect", "GetWindowTextW", "IsDialogMessageW", "IsIconic", "IsWindowVisible", "IsZoomed",
        "LoadCursorW", "LoadIconW", "MapWindowPoints", "MessageBoxW", "MoveWindow", "PostMessageW",
        "PostQuitMessage", "RegisterClassExW", "ReleaseDC", "SendMessageW", "SetFocus", "SetWindowLongA",
        "SetWindowLongPtrW", "SetWindowLongW", "SetWindowPos", "SetWindowsHookExW", "ShowWindow",
        "SystemParametersInfoW", "TranslateMessage", "UnhookWindowsHookEx",
    },
    # The C runtime that every Windows has carried since Windows 2000, used by
    # the MinGW-w64 start-up code; all of these are in Windows 7's copy.
    "msvcrt.dll": {
        "__iob_func", "__p__commode", "__p__fmode", "__p__wcmdln", "__set_app_type", "__setusermatherr",
        "__wgetmainargs", "__winitenv", "_amsg_exit", "_cexit", "_commode", "_fmode", "_initterm", "_iob",
        "_onexit", "_wcmdln", "abort", "calloc", "exit", "fprintf", "free", "fwrite", "malloc", "memcmp",
        "memcpy", "signal", "strlen", "strncmp", "vfprintf", "wcscmp",
        "wcslen",                                   # GCC 14's start-up code (Debian 13)
    },
}

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
WINDOWS_SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
WINDOWS_SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"


def headers(exe=EXE):
    return subprocess.run([OBJDUMP, "-p", "-h", str(exe)], check=True, capture_output=True, text=True).stdout


def imported_functions(exe=EXE):
    """(DLL, function) for every function the program imports by name (by
    ordinal: "#N"), read from the PE file's import directory itself."""
    data = exe.read_bytes()

    def number(offset, size):
        return int.from_bytes(data[offset:offset + size], "little")

    def text(offset):
        return data[offset:data.index(b"\0", offset)].decode("ascii")

    pe = number(0x3C, 4)
    section_count, optional_size = number(pe + 6, 2), number(pe + 20, 2)
    optional = pe + 24
    wide = number(optional, 2) == 0x20B                 # PE32+: 64-bit thunks, longer header
    import_rva = number(optional + (120 if wide else 104), 4)
    sections = [(number(at + 12, 4), number(at + 8, 4), number(at + 20, 4))    # RVA, size, file offset
                for at in range(optional + optional_size, optional + optional_size + 40 * section_count, 40)]

    def offset_of(rva):
        return next(raw + rva - start for start, size, raw in sections if start <= rva < start + size)

    imports, thunk_size = set(), 8 if wide else 4
    descriptor = offset_of(import_rva)
    while number(descriptor + 12, 4):                   # a descriptor with no name ends the table
        dll = text(offset_of(number(descriptor + 12, 4))).lower()
        thunk = offset_of(number(descriptor, 4) or number(descriptor + 16, 4))
        while entry := number(thunk, thunk_size):
            by_ordinal = entry >> (thunk_size * 8 - 1)
            imports.add((dll, f"#{entry & 0xFFFF}" if by_ordinal else text(offset_of(entry & 0x7FFFFFFF) + 2)))
            thunk += thunk_size
        descriptor += 20
    return imports


def version_text(name, exe=EXE):
    """The value of the version resource's string `name`, and the StringTable it is in."""
    data = exe.read_bytes()
    # A String is wLength, wValueLength (in characters), wType, the key, padding to
    # 32 bits, then the value; its StringTable's key precedes it.
    key = f"{name}\0".encode("utf-16-le")
    start = data.find(key) - 6
    if start < 0:
        return None, None
    value_length = int.from_bytes(data[start + 2:start + 4], "little")
    value_start = (start + 6 + len(key) + 3) & ~3
    value = data[value_start:value_start + 2 * value_length].decode("utf-16-le").rstrip("\0")
    table = re.findall(r"[0-9A-Fa-f]{8}\0", data[:start].decode("utf-16-le", "replace")[-200:])
    return value, table[-1].rstrip("\0") if table else None


def embedded_manifest(exe=EXE):
    data = exe.read_bytes()
    start = data.find(b"<?xml")
    end = data.find(b"</assembly>", start)
    if start < 0 or end < 0:
        return None
    return ElementTree.fromstring(data[start:end + len(b"</assembly>")])


class ProgramFile(unittest.TestCase):
    exe = EXE

    def test_is_a_gui_program_of_its_architecture_that_imports_system_dlls_only(self):
        file_format, magic, magic_name, _ = EXPECTED[ARCH]
        text = headers(self.exe)
        self.assertEqual(re.search(r"file format (\S+)", text).group(1), file_format)
        self.assertEqual(re.search(r"Magic\s+(\S+\s+\(\S+\))", text).group(1).split(), [magic, f"({magic_name})"])
        self.assertRegex(text, r"Subsystem\s+00000002\s+\(Windows GUI\)")
        imports = {dll for dll, _ in imported_functions(self.exe)}
        self.assertTrue(imports, "no imports found")
        self.assertLessEqual(imports, SYSTEM_DLLS, f"imports beyond the system's own DLLs: {imports - SYSTEM_DLLS}")

    def test_imports_only_functions_that_windows_7_has(self):
        imports = imported_functions(self.exe)
        self.assertIn(("user32.dll", "CreateWindowExW"), imports, "the import table was not read")
        allowed = {(dll, name) for dll, names in WINDOWS_7_IMPORTS.items() for name in names}
        self.assertEqual(sorted(imports - allowed), [], "imports that Windows 7 may lack")

    def test_declares_windows_7_and_terminal_server_awareness(self):
        text = headers(self.exe)
        for field in ("OSystemVersion", "SubsystemVersion"):
            major, minor = (int(re.search(rf"{part}{field}\s+(\d+)", text).group(1)) for part in ("Major", "Minor"))
            self.assertEqual((major, minor), (6, 1), f"{field}: Windows 7 is the oldest supported")
        flags = int(re.search(r"DllCharacteristics\s+([0-9a-fA-F]+)", text).group(1), 16)
        self.assertTrue(flags & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE, "Remote Desktop would apply shims")

    def test_file_description_is_the_program_name(self):
        # Task Manager shows the FileDescription as the program's name.
        self.assertEqual(version_text("FileDescription", self.exe), ("Framelatch", "040904B0"))
        self.assertEqual(version_text("ProductName", self.exe), ("Framelatch", "040904B0"))

    def test_has_aslr_and_dep_with_relocations_to_move_it(self):
        text = headers(self.exe)
        flags = int(re.search(r"DllCharacteristics\s+([0-9a-fA-F]+)", text).group(1), 16)
        self.assertTrue(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, "no ASLR flag")
        self.assertTrue(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT, "no DEP flag")
        if ARCH == "win64":
            self.assertTrue(flags & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA, "no high-entropy ASLR flag")
        self.assertRegex(text, r"\.reloc", "an image that may move needs its relocations")

    def test_stays_under_32_kib(self):
        # A signature, appended as the file's last part, adds a few KiB of its own.
        security = re.search(r"Entry 4 ([0-9a-fA-F]+) ([0-9a-fA-F]+) Security Directory", headers(self.exe))
        program = int(security.group(1), 16) if security and int(security.group(2), 16) else self.exe.stat().st_size
        self.assertLessEqual(program, 32 * 1024)

    def test_manifest_names_its_architecture_and_asks_for_no_elevation(self):
        manifest = embedded_manifest(self.exe)
        self.assertIsNotNone(manifest, "no manifest in the program file")
        identity = manifest.find(f"{ASM_V1}assemblyIdentity")
        self.assertEqual(identity.get("processorArchitecture"), EXPECTED[ARCH][3])
        level = manifest.find(f".//{ASM_V3}requestedExecutionLevel")
        self.assertEqual(level.get("level"), "asInvoker")
        controls = [d for d in manifest.iter(f"{ASM_V1}assemblyIdentity")
                    if d.get("name") == "Microsoft.Windows.Common-Controls"]
        self.assertEqual([c.get("version") for c in controls], ["6.0.0.0"])

    def test_manifest_asks_for_per_monitor_dpi_and_system_dpi_before_windows_10(self):
        manifest = embedded_manifest(self.exe)
        awareness = manifest.find(f".//{WINDOWS_SETTINGS_2016}dpiAwareness")
        self.assertIsNotNone(awareness, "no dpiAwareness: blurry on a monitor of another scale")
        self.assertEqual([value.strip() for value in awareness.text.split(",")], ["PerMonitorV2", "PerMonitor"])
        self.assertEqual(manifest.find(f".//{WINDOWS_SETTINGS_2005}dpiAware").text.strip(), "true")


def make_release(folder, env=None):
    """Runs the release build of this build's zip into `folder`, signed as `env`
    alone asks (unsigned without it); returns its run."""
    unsigned = {name: value for name, value in os.environ.items() if not name.startswith("FRAMELATCH_SIGN_")}
    return subprocess.run([CPACK, "--config", str(BIN / "CPackConfig.cmake"), "-B", str(folder)],
                          capture_output=True, text=True, timeout=300, env=unsigned | (env or {}))


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
        make_release(cls.folder.name).check_returncode()
        cls.zip = next(Path(cls.folder.name).glob("Framelatch-*.zip"))
        with zipfile.ZipFile(cls.zip) as archive:
            cls.files = {name: archive.read(name) for name in archive.namelist()}

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

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


def emphasis_and_stray_markers(page):
    """What a rendered page shows in bold or italics, and the lines of its text
    (outside code) that show a Markdown emphasis marker."""
    emphasis = [(tag, html.unescape(inner)) for tag, inner in re.findall(r"<(strong|em)>(.*?)</\1>", page, re.S)]
    text = html.unescape(re.sub(r"<[^>]+>", "", re.sub(r"<(pre|code)>.*?</\1>", "", page, flags=re.S)))
    return emphasis, [line for line in text.splitlines() if "*" in line or "__" in line]


class Guides(unittest.TestCase):
    """The README and the guides as their readers see them: under CommonMark, as
    the repository's web view renders them, and under Python-Markdown, as the
    release's pages are made."""

    def test_render_alike_under_commonmark_and_python_markdown_with_no_stray_emphasis_markers(self):
        if not shutil.which("cmark-gfm"):
            self.skipTest("cmark-gfm not installed (scripts/install-deps.sh installs it)")
        python_markdown = ("import sys, markdown; sys.stdout.write(markdown.markdown(sys.stdin.read(), "
                           "extensions=['tables', 'fenced_code']))")
        for guide in ("README.md", "docs/user-guide.md", "docs/README.ja.md"):
            with self.subTest(guide):
                text = (SOURCE / guide).read_text(encoding="utf-8")
                pages = {name: subprocess.run(command, input=text, capture_output=True, text=True, check=True).stdout
                         for name, command in (("CommonMark", ["cmark-gfm", "--extension", "table"]),
                                               ("Python-Markdown", [PAGES_PYTHON, "-c", python_markdown]))}
                (commonmark, commonmark_stray), (python, python_stray) = map(emphasis_and_stray_markers,
                                                                             pages.values())
                self.assertEqual(commonmark_stray, [], "markers shown under CommonMark")
                self.assertEqual(python_stray, [], "markers shown under Python-Markdown")
                self.assertEqual(commonmark, python, "bold or italics differ between the two")


SOFTHSM_MODULE = Path("/usr/lib/softhsm/libsofthsm2.so")


def verify_signature(path, ca, crl):
    """osslsigncode's verdict on a signed file, with the CA's CRL as it stands
    and no other: (passed, what it printed)."""
    offline = subprocess.run(["osslsigncode", "verify", "--help"], capture_output=True, text=True)
    offline = ["-ignore-cdp"] if "-ignore-cdp" in offline.stdout + offline.stderr else []
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", str(ca), "-TSA-CAfile", str(ca), "-CRLfile", str(crl),
                             "-TSA-CRLfile", str(crl), *offline, "-in", str(path)], capture_output=True, text=True)
    return result.returncode == 0 and "Signature verification: ok" in result.stdout, result.stdout + result.stderr


class ThrowawaySigner:
    """A certificate authority and code-signing certificates made for one test
    run with openssl: the key in a PKCS#12 file and in a software token (SoftHSM,
    a PKCS#11 module) as a hardware key would be, and the certificates that a
    release must refuse. Its timestamps and its CRL are served on loopback."""

    PASSWORD = "release password"      # the token's PIN too
    UNREACHABLE_CRL = "http://127.0.0.1:9/ca.crl"

    def __init__(self, folder):
        self.folder = Path(folder)
        self.server = AuthorityServer(self)
        self.crl_url = self.server.url + "ca.crl"
        self.ca = self.authority("Framelatch test CA")
        self.stranger_ca = self.authority("Some other CA")
        self.key, self.cert = self.certificate("Framelatch test signer", "codeSigning")
        _, self.tls_cert = self.certificate("A web server", "serverAuth", key=self.key)
        _, self.other_cert = self.certificate("Another signer", "codeSigning")
        _, revoked = self.certificate("Revoked signer", "codeSigning", key=self.key)
        _, unreachable = self.certificate("Signer with an unreachable CRL", "codeSigning", key=self.key,
                                          crl_url=self.UNREACHABLE_CRL)
        ecc_key, ecc = self.certificate("ECC signer", "codeSigning", algorithm="EC")
        self.pkcs12 = self.bundle("signer", self.cert)
        self.tls_pkcs12 = self.bundle("tls", self.tls_cert)
        self.revoked_pkcs12 = self.bundle("revoked", revoked)
        self.unreachable_crl_pkcs12 = self.bundle("unreachable-crl", unreachable)
        self.ecc_pkcs12 = self.bundle("ecc", ecc, ecc_key)
        _, self.tsa_cert = self.certificate("Framelatch test TSA", "critical,timeStamping")
        self.crl = self.revocation_list(revoked)
        self.password_file = self.folder / "password"
        self.password_file.write_text(self.PASSWORD + "\n")
        self.password_file.chmod(0o600)
        self.token_env = {}

    def openssl(self, *args):
        subprocess.run(["openssl", *map(str, args)], check=True, capture_output=True, cwd=self.folder)

    def authority(self, name):
        path = self.folder / f"{name.replace(' ', '-')}.pem"
        self.openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path.with_suffix(".key"),
                     "-out", path, "-days", "30", "-subj", f"/CN={name}",
                     "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        return path

    def certificate(self, name, usage, key=None, crl_url=None, algorithm="RSA"):
        """A certificate of the test CA, naming a CRL address as a public one does."""
        stem = self.folder / name.replace(" ", "-")
        key = key or stem.with_suffix(".key")
        if not key.exists():
            options = ("rsa_keygen_bits:2048",) if algorithm == "RSA" else ("ec_paramgen_curve:P-256",)
            self.openssl("genpkey", "-algorithm", algorithm, "-pkeyopt", *options, "-out", key)
        self.openssl("req", "-new", "-key", key, "-out", stem.with_suffix(".csr"), "-subj", f"/CN={name}")
        extensions = stem.with_suffix(".ext")
        extensions.write_text(f"basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                              f"extendedKeyUsage={usage}\ncrlDistributionPoints=URI:{crl_url or self.crl_url}\n")
        self.openssl("x509", "-req", "-in", stem.with_suffix(".csr"), "-CA", self.ca,
                     "-CAkey", self.ca.with_suffix(".key"), "-CAcreateserial", "-days", "30",
                     "-extfile", extensions, "-out", stem.with_suffix(".pem"))
        return key, stem.with_suffix(".pem")

    def bundle(self, name, cert, key=None):
        path = self.folder / f"{name}.p12"
        self.openssl("pkcs12", "-export", "-inkey", key or self.key, "-in", cert, "-certfile", self.ca, "-out", path,
                     "-passout", f"pass:{self.PASSWORD}")
        return path

    def revocation_list(self, revoked):
        """The test CA's CRL, in DER as a distribution point serves it, revoking `revoked`."""
        config = self.folder / "ca.cnf"
        config.write_text(f"[ca]\ndefault_ca = test\n[test]\ndatabase = {self.folder}/index.txt\n"
                          f"crlnumber = {self.folder}/crlnumber\ndefault_md = sha256\ndefault_crl_days = 7\n")
        (self.folder / "index.txt").write_text("")
        (self.folder / "crlnumber").write_text("01\n")
        authority = ("-config", config, "-cert", self.ca, "-keyfile", self.ca.with_suffix(".key"))
        self.openssl("ca", *authority, "-revoke", revoked)
        self.openssl("ca", *authority, "-gencrl", "-out", "ca-crl.pem")
        self.openssl("crl", "-in", "ca-crl.pem", "-outform", "DER", "-out", "ca.crl")
        self.crl_pem = self.folder / "ca-crl.pem"
        return self.folder / "ca.crl"

    def token(self):
        """The signing key in a new SoftHSM token; the environment that reaches it."""
        if not self.token_env:
            tokens = self.folder / "tokens"
            tokens.mkdir()
            config = self.folder / "softhsm2.conf"
            config.write_text(f"directories.tokendir = {tokens}\nobjectstore.backend = file\n")
            self.token_env = {"SOFTHSM2_CONF": str(config)}
            for command in (["--init-token", "--free", "--label", "release", "--so-pin", "0000", "--pin", self.PASSWORD],
                            ["--import", str(self.key), "--token", "release", "--label", "signer", "--id", "01",
                             "--pin", self.PASSWORD]):
                subprocess.run(["softhsm2-util", *command], check=True, capture_output=True,
                               env={**os.environ, **self.token_env})
        return self.token_env

    def timestamp_reply(self, query):
        """An RFC 3161 timestamp for a query, from the test CA's timestamp authority."""
        config = self.folder / "tsa.cnf"
        if not config.exists():
            config.write_text(f"[tsa]\ndefault_tsa = tsa_config\n[tsa_config]\nserial = {self.folder}/tsa-serial\n"
                              "signer_digest = sha256\ndefault_policy = 1.2.3.4.1\ndigests = sha256\n"
                              "ess_cert_id_alg = sha256\n")
            (self.folder / "tsa-serial").write_text("01\n")
        with tempfile.TemporaryDirectory() as folder:
            Path(folder, "query").write_bytes(query)
            self.openssl("ts", "-reply", "-config", config, "-queryfile", Path(folder, "query"),
                         "-signer", self.tsa_cert, "-inkey", self.tsa_cert.with_suffix(".key"), "-chain", self.ca,
                         "-out", Path(folder, "reply"))
            return Path(folder, "reply").read_bytes()

    def env(self, way="pkcs12", cert=None, ca=None, password=None, timestamp_url=None):
        """The environment that signs a release in one way."""
        env = {"FRAMELATCH_SIGN_CA": str(ca or self.ca), "FRAMELATCH_SIGN_URL": "https://framelatch.example/"}
        if timestamp_url:
            env |= {"FRAMELATCH_SIGN_TIMESTAMP_URL": timestamp_url, "FRAMELATCH_SIGN_TIMESTAMP_CA": str(self.ca)}
        if way == "pkcs12":
            env |= {"FRAMELATCH_SIGN_PKCS12": str(cert or self.pkcs12)}
        elif way == "pkcs11":
            env |= {**self.token(), "FRAMELATCH_SIGN_PKCS11_MODULE": str(SOFTHSM_MODULE),
                    "FRAMELATCH_SIGN_PKCS11_KEY": "pkcs11:token=release;object=signer;type=private",
                    "FRAMELATCH_SIGN_CERTS": str(cert or self.cert)}
        if password is not None:
            env["FRAMELATCH_SIGN_PASSWORD"] = password
        elif way in ("pkcs12", "pkcs11"):
            env["FRAMELATCH_SIGN_PASSWORD_FILE"] = str(self.password_file)
        return env


class AuthorityServer:
    """The signer's authority on loopback: an RFC 3161 timestamp server, and the
    distribution point of its CRL."""

    def __init__(self, signer):
        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                crl = signer.crl.read_bytes() if self.path == "/ca.crl" else None
                self.send_response(200 if crl else 404)
                self.send_header("Content-Type", "application/pkix-crl")
                self.send_header("Content-Length", str(len(crl or b"")))
                self.end_headers()
                self.wfile.write(crl or b"")

            def do_POST(self):
                reply = signer.timestamp_reply(self.rfile.read(int(self.headers["Content-Length"])))
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *_):
                pass
        self.server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_port}/"
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


def why_no_signing_tools():
    missing = [tool for tool in ("osslsigncode", "openssl", "softhsm2-util") if not shutil.which(tool)]
    if missing or not SOFTHSM_MODULE.exists():
        return f"{', '.join(missing or [str(SOFTHSM_MODULE)])} not installed (scripts/install-deps.sh installs it)"
    return None


def signed_program(zip_path, folder):
    """The Framelatch.exe in a release zip, taken out into `folder`."""
    with zipfile.ZipFile(zip_path) as archive:
        return Path(archive.extract("Framelatch.exe", folder))


class SignedRelease(ProgramFile):
    """A release signed with a PKCS#12 file: the program file's checks hold for
    the signed file, its signature verifies and covers every byte, and the zip
    and SHA256SUMS hold the signed file. Every way a signing can go wrong fails
    the release build instead."""

    @classmethod
    def setUpClass(cls):
        if why := why_no_signing_tools():
            raise unittest.SkipTest(why)
        cls.folder = tempfile.TemporaryDirectory()
        cls.signer = ThrowawaySigner(cls.folder.name)
        cls.addClassCleanup(cls.folder.cleanup)
        cls.addClassCleanup(cls.signer.server.stop)
        # An unsigned zip of the other build, left from before: not part of a signed release.
        cls.release = Path(cls.folder.name) / "release"
        cls.release.mkdir()
        with zipfile.ZipFile(cls.release / f"Framelatch-{VERSION}-{'win32' if ARCH == 'win64' else 'win64'}.zip",
                             "w") as unsigned:
            unsigned.write(EXE, "Framelatch.exe")
        cls.build = make_release(cls.release, cls.signer.env(timestamp_url=cls.signer.server.url))
        assert cls.build.returncode == 0, cls.build.stdout + cls.build.stderr
        cls.zip = next(cls.release.glob(f"Framelatch-*-{ARCH}.zip"))
        cls.exe = signed_program(cls.zip, cls.folder.name)

    def test_signature_verifies_with_sha256_and_a_timestamp_and_names_the_program_and_its_address(self):
        passed, output = verify_signature(self.exe, self.signer.ca, self.signer.crl_pem)
        self.assertTrue(passed, output)
        self.assertRegex(output, r"Message digest algorithm\s*:\s*SHA256")
        self.assertIn("Timestamp Server Signature verification: ok", output)
        self.assertIn("Text description: Framelatch", output)
        self.assertIn("URL description: https://framelatch.example/", output)
        self.assertNotEqual(self.exe.read_bytes(), EXE.read_bytes(), "the build's own file stays unsigned")
        self.assertFalse(verify_signature(self.exe, self.signer.stranger_ca, self.signer.crl_pem)[0],
                         "verifies against any CA")
        self.assertIn(f"no certificate of the signature is revoked (CRL from {self.signer.crl_url})",
                      self.build.stdout + self.build.stderr)

    def test_a_byte_changed_in_the_code_the_resources_or_the_signature_fails_verification(self):
        data = self.exe.read_bytes()
        sections = {m.group(1): int(m.group(2), 16) for m in
                    re.finditer(r"^\s*\d+\s+(\.\w+)\s+\S+\s+\S+\s+\S+\s+([0-9a-f]+)", headers(self.exe), re.M)}
        table = re.search(r"Entry 4 ([0-9a-fA-F]+) ([0-9a-fA-F]+) Security Directory", headers(self.exe))
        signature = int(table.group(1), 16) + int(table.group(2), 16) // 2
        for place, offset in (("code", sections[".text"] + 64), ("resources", sections[".rsrc"] + 64),
                              ("signature", signature)):
            with self.subTest(place):
                changed = Path(self.folder.name) / f"changed-{place}.exe"
                changed.write_bytes(data[:offset] + bytes([data[offset] ^ 0x01]) + data[offset + 1:])
                self.assertFalse(verify_signature(changed, self.signer.ca, self.signer.crl_pem)[0],
                                 f"a byte changed in the {place}")

    def test_the_zip_holds_the_signed_file_and_the_sums_list_only_the_signed_release(self):
        zips = sorted(self.release.glob("Framelatch-*.zip"))
        self.assertEqual(zips, [self.zip], "the other build's unsigned zip is no part of a signed release")
        self.assertIn("signed differently", self.build.stdout + self.build.stderr)
        sums = (self.release / "SHA256SUMS").read_text()
        self.assertEqual(sums, f"{hashlib.sha256(self.zip.read_bytes()).hexdigest()}  {self.zip.name}\n")

    def test_a_pkcs11_token_a_signing_command_a_crl_given_offline_and_an_allowed_ecc_key_sign_as_well(self):
        signer = self.signer
        command = (f"sh -c 'osslsigncode sign -pkcs12 \"$0\" -readpass \"$1\" -h sha256 -n Framelatch "
                   f"-in \"$2\" -out \"$2.new\" && mv \"$2.new\" \"$2\"' {signer.pkcs12} "
                   f"{signer.password_file}")
        checked = "no certificate of the signature is revoked (CRL from "
        ways = {
            "pkcs11": (signer.env("pkcs11"), checked + signer.crl_url),
            "command": (signer.env("command") | {"FRAMELATCH_SIGN_COMMAND": command}, checked + signer.crl_url),
            "CRL file for an address out of reach": (
                signer.env(cert=signer.unreachable_crl_pkcs12) | {"FRAMELATCH_SIGN_CRL": str(signer.crl)},
                f"{checked}{signer.crl})"),
            "ECC key, allowed": (signer.env(cert=signer.ecc_pkcs12) | {"FRAMELATCH_SIGN_ALLOW_NON_RSA": "1"},
                                 "warning: the signing key is not RSA"),
        }
        for way, (env, said) in ways.items():
            with self.subTest(way), tempfile.TemporaryDirectory() as folder:
                run = make_release(folder, env)
                self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                self.assertIn(said, run.stdout + run.stderr)
                signed = signed_program(next(Path(folder).glob("Framelatch-*.zip")), folder)
                passed, output = verify_signature(signed, signer.ca, signer.crl_pem)
                self.assertTrue(passed, output)

    def test_each_failure_fails_the_build_with_its_reason_and_leaves_no_release_not_even_an_older_one(self):
        signer = self.signer
        cases = {
            "wrong password": (signer.env(password="not the password"), "wrong password"),
            "no code-signing use": (signer.env(cert=signer.tls_pkcs12), "not for code signing"),
            "key not the certificate's": (signer.env("pkcs11", cert=signer.other_cert),
                                          "key does not match the certificate"),
            "chain not verified": (signer.env(ca=signer.stranger_ca), "chain does not verify"),
            "command signs nothing": (signer.env("command") | {"FRAMELATCH_SIGN_COMMAND": "true"}, "signed nothing"),
            "command fails": (signer.env("command") | {"FRAMELATCH_SIGN_COMMAND": "false"}, "exited with 1"),
            "no CA to verify against": ({"FRAMELATCH_SIGN_PKCS12": str(signer.pkcs12)}, "FRAMELATCH_SIGN_CA"),
            "no timestamp server there": (signer.env(timestamp_url="http://127.0.0.1:9/"), "gave no timestamp"),
            "revoked": (signer.env(cert=signer.revoked_pkcs12), f"is revoked (by the CRL from {signer.crl_url})"),
            "revoked, by a CRL file": (signer.env(cert=signer.revoked_pkcs12) | {"FRAMELATCH_SIGN_CRL": str(signer.crl)},
                                       f"is revoked (by the CRL from {signer.crl})"),
            "CRL address out of reach": (signer.env(cert=signer.unreachable_crl_pkcs12),
                                         f"{signer.UNREACHABLE_CRL} (Connection refused), so its revocation cannot "
                                         "be checked. Where this machine cannot reach that address, fetch the CRL "
                                         "beforehand and name the file in FRAMELATCH_SIGN_CRL"),
            "ECC key": (signer.env(cert=signer.ecc_pkcs12), "Smart App Control on Windows 11 accepts only RSA"),
        }
        for case, (env, reason) in cases.items():
            with self.subTest(case), tempfile.TemporaryDirectory() as folder:
                # What an earlier build left: a zip of this version and its sums.
                for name in (f"Framelatch-{VERSION}-{ARCH}.zip", f"Framelatch-{VERSION}-win32.zip", "SHA256SUMS"):
                    Path(folder, name).write_text("from an earlier build\n")
                run = make_release(folder, env)
                self.assertNotEqual(run.returncode, 0, "the release build passed")
                self.assertIn(reason, run.stdout + run.stderr)
                self.assertEqual(sorted(p.name for p in Path(folder).iterdir() if p.is_file()), [],
                                 "a failed signing left release files")
                self.assertNotIn(signer.PASSWORD, run.stdout + run.stderr, "the password reached the log")


if __name__ == "__main__":
    unittest.main()
