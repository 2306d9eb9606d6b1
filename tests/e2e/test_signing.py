"""A signed release: what it must verify, and each way a signing fails the release, leaving none."""
import os
import re
import subprocess
import tempfile
import time
import unittest
import zipfile
from pathlib import Path

import test_program_file
from signing_authority import ThrowawaySigner, signed_program, verify_signature, why_no_signing_tools
from test_program_file import ARCH, EXE, VERSION, headers, make_release

OTHER_ZIP = f"Framelatch-{VERSION}-{'win32' if ARCH == 'win64' else 'win64'}.zip"


class SignedRelease(test_program_file.ProgramFile):
    """A release signed with a PKCS#12 file and timestamped, held to the program
    file's checks; and every way a signing can go wrong, failing the release."""

    @classmethod
    def setUpClass(cls):
        if why := why_no_signing_tools():
            raise unittest.SkipTest(why)
        cls.folder = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.folder.cleanup)
        cls.signer = ThrowawaySigner(cls.folder.name)
        cls.addClassCleanup(cls.signer.server.stop)
        cls.release = Path(cls.folder.name) / "release"
        cls.build = make_release(cls.release, cls.signer.env(timestamp=True))
        assert cls.build.returncode == 0, cls.build.stdout + cls.build.stderr
        cls.zip = next(cls.release.glob(f"Framelatch-*-{ARCH}.zip"))
        cls.exe = signed_program(cls.zip, cls.folder.name)

    def sign(self, program, name, *options):
        """`program` signed by osslsigncode with SHA-256, as a maintainer's own command would."""
        signed = Path(self.folder.name, name)
        subprocess.run(["osslsigncode", "sign", *options, "-h", "sha256", "-in", program, "-out", signed], check=True,
                       capture_output=True)
        return signed

    def test_signature_verifies_with_sha256_and_a_timestamp_and_names_the_program_and_its_address(self):
        passed, output = verify_signature(self.exe, self.signer.ca, self.signer.crls_pem)
        self.assertTrue(passed, output)
        self.assertRegex(output, r"Message digest algorithm\s*:\s*SHA256")
        self.assertIn("Timestamp Server Signature verification: ok", output)
        self.assertIn("Text description: Framelatch", output)
        self.assertIn("URL description: https://framelatch.example/", output)
        self.assertNotEqual(self.exe.read_bytes(), EXE.read_bytes(), "the build's own file stays unsigned")
        self.assertFalse(verify_signature(self.exe, self.signer.stranger_ca, self.signer.crls_pem)[0],
                         "verifies against any CA")

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
                self.assertFalse(verify_signature(changed, self.signer.ca, self.signer.crls_pem)[0],
                                 f"a byte changed in the {place}")

    def test_the_other_builds_zip_is_summed_only_where_it_is_this_release_but_for_its_program(self):
        data = EXE.read_bytes()
        machine = int.from_bytes(data[0x3C:0x40], "little") + 4
        other_machine = bytes.fromhex("4c01" if ARCH == "win64" else "6486")
        unsigned = Path(self.folder.name, "other-machine.exe")
        unsigned.write_bytes(data[:machine] + other_machine + data[machine + 2:])
        oversized = Path(self.folder.name, "other-machine-oversized.exe")
        oversized.write_bytes(unsigned.read_bytes() + bytes(4 * 2**20))
        signer = ("-pkcs12", self.signer.pkcs12, "-readpass", self.signer.password_file)
        stranger = ("-certs", self.signer.stranger_ca, "-key", self.signer.stranger_ca.with_suffix(".key"))
        with zipfile.ZipFile(self.zip) as archive:
            ours = {name: archive.read(name) for name in archive.namelist()}
        signed = self.sign(unsigned, "o.exe", *signer)
        # (case, unsigned release?, the other zip's files, listed?)
        cases = (
            ("of the other machine, signed by this signer", False, {"Framelatch.exe": signed}, True),
            ("signed by a stranger", False, {"Framelatch.exe": self.sign(unsigned, "s.exe", *stranger)}, False),
            ("unsigned", False, {"Framelatch.exe": unsigned}, False),
            ("this build's own program, signed as this one is", False,
             {"Framelatch.exe": self.sign(EXE, "same-machine.exe", *signer)}, False),
            ("with a DLL planted beside it", False, {"Framelatch.exe": signed, "version.dll": b"MZ"}, False),
            ("with a changed guide", False, {"Framelatch.exe": signed, "README-en.html": b"<p>changed</p>"}, False),
            ("with a program over the bound", False, {"Framelatch.exe": self.sign(oversized, "big.exe", *signer)},
             False),
            ("in an unsigned release, unsigned", True, {"Framelatch.exe": unsigned}, True),
            ("in an unsigned release, signed", True, {"Framelatch.exe": signed}, False),
            ("in an unsigned release, over the bound", True, {"Framelatch.exe": oversized}, False),
            ("not a zip", False, None, False),
        )
        for case, unsigned_release, changes, listed in cases:
            with self.subTest(case), tempfile.TemporaryDirectory() as folder:
                with zipfile.ZipFile(Path(folder, OTHER_ZIP), "w") as archive:
                    for name, data in (ours | (changes or {})).items():
                        archive.writestr(name, data if isinstance(data, bytes) else data.read_bytes())
                if changes is None:
                    Path(folder, OTHER_ZIP).write_text("not a zip\n")
                run = make_release(folder, {} if unsigned_release else self.signer.env())
                self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                self.assertEqual(OTHER_ZIP in Path(folder, "SHA256SUMS").read_text(), listed, run.stderr)
                self.assertEqual(Path(folder, OTHER_ZIP).exists(), listed, "the zip left beside the release")

    def test_a_pkcs11_token_a_signing_command_crls_in_one_file_and_an_allowed_ecc_key_sign_as_well(self):
        signer = self.signer
        command = (f"sh -c 'osslsigncode sign -pkcs12 \"$0\" -readpass \"$1\" -h sha256 -n Framelatch "
                   f"-in \"$2\" -out \"$2.new\" && mv \"$2.new\" \"$2\"' {signer.pkcs12} {signer.password_file}")
        ways = {
            "pkcs11": signer.env("pkcs11"),
            "command": signer.env("command") | {"FRAMELATCH_SIGN_COMMAND": command},
            "CRLs in one PEM file": signer.env(crls=signer.crls_pem),
            "ECC key, allowed": signer.env(cert=signer.ecc_pkcs12) | {"FRAMELATCH_SIGN_ALLOW_NON_RSA": "1"},
            "beside another CA's ECC certificate of the same serial": signer.env(cert=signer.beside_impostor_pkcs12),
            "a chain naming no CRL, and none given": signer.env(cert=signer.no_crl_under_root_pkcs12, crls=""),
        }
        for way, env in ways.items():
            with self.subTest(way), tempfile.TemporaryDirectory() as folder:
                run = make_release(folder, env)
                self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                signed = signed_program(next(Path(folder).glob("Framelatch-*.zip")), folder)
                self.assertTrue(verify_signature(signed, signer.ca, signer.crls_pem)[0])

    def test_each_failure_fails_the_build_with_its_reason_and_leaves_no_release_not_even_an_older_one(self):
        signer = self.signer
        fetch = "fetch it from http://crl.framelatch.example/{}.crl and name the file in FRAMELATCH_SIGN_CRL".format
        # A command of the maintainer's own that signs with the digest it is given.
        own = (f"sh -c 'osslsigncode sign -pkcs12 {signer.pkcs12} -readpass {signer.password_file} -h {{}} "
               "-in \"$0\" -out \"$0.new\" && mv \"$0.new\" \"$0\"{}'")
        command = lambda line: signer.env("command") | {"FRAMELATCH_SIGN_COMMAND": line}  # noqa: E731
        timestamped = lambda url: signer.env(timestamp=True) | {"FRAMELATCH_SIGN_TIMESTAMP_URL": url}  # noqa: E731
        # Notepad's "Unicode": a fault the step does not foresee, which still fails in one line.
        (utf16 := Path(self.folder.name, "password-utf16.txt")).write_text(signer.PASSWORD, encoding="utf-16")
        cases = {
            "wrong password": (signer.env(password_file=signer.crls_pem), "wrong password"),
            "a password file in UTF-16": (signer.env(password_file=utf16), "failed unexpectedly (UnicodeDecodeError"),
            "no code-signing use": (signer.env(cert=signer.tls_pkcs12), "not for code signing"),
            "key not the certificate's": (signer.env("pkcs11", cert=signer.other_cert),
                                          "key does not match the certificate"),
            "chain not verified": (signer.env(ca=signer.stranger_ca), "chain does not verify"),
            "chain through a forged intermediate": (signer.env(cert=signer.under_forged_pkcs12),
                                                    "chain does not verify against FRAMELATCH_SIGN_CA"),
            "command signs nothing": (command("true"), "signed nothing"),
            "command fails": (command("false"), "exited with 1"),
            "command signs, then fails": (command(own.format("sha256", " && false")), "exited with 1"),
            "command signs with SHA-1": (command(own.format("sha1", "")), "not signed with SHA-256"),
            "command gives no timestamp that was asked for": (
                signer.env("command", timestamp=True) | {"FRAMELATCH_SIGN_COMMAND": own.format("sha256", "")},
                "carries no timestamp"),
            "two ways": (signer.env() | {"FRAMELATCH_SIGN_COMMAND": "true"}, "one way of signing at a time"),
            "a time limit that is no number": (signer.env() | {"FRAMELATCH_SIGN_SECONDS": "ten"},
                                               "FRAMELATCH_SIGN_SECONDS must be a whole number"),
            "no CA to verify against": ({"FRAMELATCH_SIGN_PKCS12": str(signer.pkcs12)}, "FRAMELATCH_SIGN_CA"),
            "no osslsigncode": (signer.env() | {"PATH": "/nonexistent"}, "osslsigncode cannot be run"),
            "the password in a variable": (signer.env() | {"FRAMELATCH_SIGN_PASSWORD": signer.PASSWORD},
                                           "FRAMELATCH_SIGN_PASSWORD is not read"),
            "no timestamp server there": (timestamped("http://127.0.0.1:9/"), "gave no timestamp"),
            "revoked": (signer.env(cert=signer.revoked_pkcs12), "CN=Revoked signer is revoked"),
            "intermediate revoked, on a chain that names no CRL": (signer.env(cert=signer.under_quiet_revoked_pkcs12),
                                                                   "CN=Revoked CA naming no CRL is revoked"),
            "timestamp authority revoked": (timestamped(signer.server.url + "revoked"), "CN=Revoked TSA is revoked"),
            "timestamp authority under a revoked intermediate": (timestamped(signer.server.url + "under-revoked"),
                                                                 "CN=Revoked intermediate CA is revoked"),
            "intermediate revoked, carried in the signature": (
                signer.env(cert=signer.under_revoked_pkcs12), "CN=Revoked intermediate CA is revoked"),
            "intermediate revoked, given with the root": (
                signer.env(cert=signer.under_revoked_alone_pkcs12, ca=signer.root_and_revoked_ca),
                "CN=Revoked intermediate CA is revoked"),
            "the signer's issuer's CRL not given": (signer.env(crls=signer.root_crl), fetch("Framelatch-test-CA")),
            "the root's CRL not given": (signer.env(crls=signer.crl), fetch("Framelatch-test-root-CA")),
            "no CRL given": (signer.env(crls=""), "certificate CN=Framelatch test signer needs: " +
                             fetch("Framelatch-test-CA")),
            "a certificate naming no CRL, and its issuer's not given beside others": (
                signer.env(cert=signer.no_crl_pkcs12, crls=signer.root_crl),
                "Signer naming no CRL needs: give it in FRAMELATCH_SIGN_CRL"),
            "CRL not signed by its issuer": (
                signer.env(crls=os.pathsep.join(map(str, (signer.root_crl, signer.forged_crl)))),
                "not signed by its issuer's key"),
            "CRL file that holds none": (signer.env(crls=signer.ca), "holds no CRL"),
            "ECC key": (signer.env(cert=signer.ecc_pkcs12), "Smart App Control on Windows 11 accepts only RSA"),
            "ECC key beside another CA's RSA certificate of the same serial": (
                signer.env(cert=signer.ecc_beside_impostor_pkcs12), "Smart App Control on Windows 11 accepts only RSA"),
        }
        for case, (env, reason) in cases.items():
            with self.subTest(case), tempfile.TemporaryDirectory() as folder:
                # What an earlier build left: a zip of this version and its sums.
                for name in (f"Framelatch-{VERSION}-{ARCH}.zip", OTHER_ZIP, "SHA256SUMS"):
                    Path(folder, name).write_text("from an earlier build\n")
                run = make_release(folder, env)
                self.assertNotEqual(run.returncode, 0, "the release build passed")
                self.assertEqual(sorted(p.name for p in Path(folder).iterdir() if p.is_file()), [],
                                 "a failed signing left release files")
                self.assertNotIn("Traceback", run.stdout + run.stderr, "not one line")
                self.assertIn(reason, run.stdout + run.stderr)

    def test_nothing_waits_for_input_and_a_time_limit_ends_all_the_signing_command_started(self):
        with tempfile.TemporaryDirectory() as folder:
            # No PIN for the token, and a signing command that reads its input, with the release run from
            # a terminal (script gives it one) left open.
            no_pin = self.signer.env("pkcs11")
            del no_pin["FRAMELATCH_SIGN_PASSWORD_FILE"]
            reads = self.signer.env("command") | {"FRAMELATCH_SIGN_COMMAND": "sh -c 'read -r line'",
                                                  "FRAMELATCH_SIGN_SECONDS": "120"}
            for env, reason in ((no_pin, "the PKCS#11 key cannot be used"), (reads, "exited with 1")):
                started = time.monotonic()
                run = make_release(Path(folder, "release"), env, terminal=True)
                self.assertLess(time.monotonic() - started, 60, "the step waited on its input")
                self.assertIn(reason, run.stdout)
            # A command whose child outlives it, holding its output.
            child = Path(folder, "child")
            command = f"sh -c 'sleep 300 & echo $! >{child}; wait'"
            run = make_release(Path(folder, "release"), self.signer.env("command") |
                               {"FRAMELATCH_SIGN_COMMAND": command, "FRAMELATCH_SIGN_SECONDS": "2"})
            pid, deadline = child.read_text().strip(), time.monotonic() + 10
            while running(pid) and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertFalse(running(pid), "the command's child still runs")
            self.assertIn("the signing command did not finish within 2 s", run.stderr)


def running(pid):
    """Whether a process is there and not a zombie."""
    try:
        return Path("/proc", pid, "stat").read_text().rpartition(")")[2].split()[0] != "Z"
    except FileNotFoundError:
        return False


if __name__ == "__main__":
    unittest.main()
