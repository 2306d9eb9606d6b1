"""A signed release: what it must verify, and every way a signing can go
wrong, each failing the release build with its reason."""
import hashlib
import re
import subprocess
import tempfile
import unittest
import zipfile
from pathlib import Path

import test_program_file
from signing_authority import ThrowawaySigner, signed_program, verify_signature, why_no_signing_tools
from test_program_file import ARCH, EXE, VERSION, headers, make_release


class SignedRelease(test_program_file.ProgramFile):
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
        self.assertIn(f"no certificate of the signature is revoked (CRL from {self.signer.crl_url}, "
                      f"{self.signer.root_crl_url})",
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

    def test_the_other_builds_zip_is_summed_only_where_its_signature_verifies_now(self):
        other = f"Framelatch-{VERSION}-{'win32' if ARCH == 'win64' else 'win64'}.zip"
        stranger = Path(self.folder.name, "stranger-signed.exe")
        subprocess.run(["osslsigncode", "sign", "-certs", self.signer.stranger_ca, "-key",
                        self.signer.stranger_ca.with_suffix(".key"), "-h", "sha256", "-in", EXE, "-out", stranger],
                       check=True, capture_output=True)
        # Signed by a stranger, signed by this signer, and no zip at all.
        for case, program, listed in (("a stranger's signature", stranger, False),
                                      ("this signer's signature", self.exe, True),
                                      ("not a zip", None, False)):
            with self.subTest(case), tempfile.TemporaryDirectory() as folder:
                if program:
                    with zipfile.ZipFile(Path(folder, other), "w") as archive:
                        archive.write(program, "Framelatch.exe")
                else:
                    Path(folder, other).write_text("not a zip\n")
                run = make_release(folder, self.signer.env(timestamp_url=self.signer.server.url))
                self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                sums = Path(folder, "SHA256SUMS").read_text()
                self.assertEqual(other in sums, listed, run.stdout + run.stderr)
                self.assertEqual(Path(folder, other).exists(), listed, "the zip left beside the release")

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
            "beside another CA's ECC certificate of the same serial": (
                signer.env(cert=signer.beside_impostor_pkcs12), checked + signer.crl_url),
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
            "chain through a forged intermediate": (signer.env(cert=signer.under_forged_pkcs12),
                                                    "chain does not verify against FRAMELATCH_SIGN_CA"),
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
            "ECC key beside another CA's RSA certificate of the same serial": (
                signer.env(cert=signer.ecc_beside_impostor_pkcs12), "Smart App Control on Windows 11 accepts only RSA"),
            "intermediate revoked, carried in the signature": (
                signer.env(cert=signer.under_revoked_pkcs12),
                f"the certificate Common Name: Revoked intermediate CA is revoked (by the CRL from {signer.root_crl_url})"),
            "intermediate revoked, given with the root": (
                signer.env(cert=signer.under_revoked_alone_pkcs12, ca=signer.root_and_revoked_ca),
                f"the certificate Common Name: Revoked intermediate CA is revoked (by the CRL from {signer.root_crl_url})"),
            "intermediate revoked, by a CRL file": (
                signer.env(cert=signer.under_revoked_pkcs12) | {"FRAMELATCH_SIGN_CRL": str(signer.crl)},
                f"the certificate Common Name: Revoked intermediate CA is revoked (by the CRL from {signer.crl})"),
            "CRL address of another scheme": (
                signer.env(cert=signer.local_file_crl_pkcs12),
                f"is {signer.LOCAL_FILE_CRL}, which is not http or https: it is not opened"),
            "CRL answer without end": (signer.env(cert=signer.endless_crl_pkcs12), "larger than 32 MiB"),
            "CRL not signed by the issuer": (signer.env(cert=signer.forged_crl_pkcs12),
                                             "the revocation of the signer's chain cannot be checked"),
        }
        for case, (env, reason) in cases.items():
            with self.subTest(case), tempfile.TemporaryDirectory() as folder:
                # What an earlier build left: a zip of this version and its sums.
                for name in (f"Framelatch-{VERSION}-{ARCH}.zip", f"Framelatch-{VERSION}-win32.zip", "SHA256SUMS"):
                    Path(folder, name).write_text("from an earlier build\n")
                asked = len(signer.server.requests)
                run = make_release(folder, env)
                self.assertNotEqual(run.returncode, 0, "the release build passed")
                self.assertIn(reason, run.stdout + run.stderr)
                if "chain" in case:
                    self.assertEqual(signer.server.requests[asked:], [], "a CRL fetched for an unverified chain")
                self.assertEqual(sorted(p.name for p in Path(folder).iterdir() if p.is_file()), [],
                                 "a failed signing left release files")
                self.assertNotIn(signer.PASSWORD, run.stdout + run.stderr, "the password reached the log")
                self.assertNotIn("Traceback", run.stdout + run.stderr)

    def test_no_program_the_step_runs_gets_the_password_in_its_environment(self):
        with tempfile.TemporaryDirectory() as folder:
            seen = Path(folder, "environment")
            command = (f"sh -c 'env >\"$0\"; osslsigncode sign -pkcs12 \"$1\" -readpass \"$2\" -h sha256 -in \"$3\" "
                       f"-out \"$3.new\" && mv \"$3.new\" \"$3\"' {seen} {self.signer.pkcs12} {self.signer.password_file}")
            env = self.signer.env("command") | {"FRAMELATCH_SIGN_COMMAND": command,
                                                "FRAMELATCH_SIGN_PASSWORD": self.signer.PASSWORD}
            run = make_release(Path(folder, "release"), env)
            self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
            self.assertIn("FRAMELATCH_SIGN_CA=", seen.read_text(), "the command's environment was not written")
            self.assertNotIn(self.signer.PASSWORD, seen.read_text())


if __name__ == "__main__":
    unittest.main()
