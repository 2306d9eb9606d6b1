#!/usr/bin/env python3
"""Signs a release's Framelatch.exe with Authenticode (SHA-256) and proves the
signature, or fails: a release is signed whole or not at all.

    sign-program.py sign FILE          sign FILE in place where signing is asked for
    sign-program.py signed FILE.zip    exit 0 if the zip's Framelatch.exe is signed

Signing is asked for by the environment, so that neither the key nor its
password reaches a command line, a build log or the repository. One way:

    FRAMELATCH_SIGN_PKCS12         a PKCS#12 file with the key and certificate
    FRAMELATCH_SIGN_PKCS11_MODULE  a PKCS#11 module, with
      FRAMELATCH_SIGN_PKCS11_KEY   the key's PKCS#11 URI and
      FRAMELATCH_SIGN_CERTS        the certificate (and its chain), PEM
    FRAMELATCH_SIGN_COMMAND        a command that signs the file named as its
                                   last argument in place

and always FRAMELATCH_SIGN_CA, the root certificates (PEM) the signature must
verify against. The password or PIN of the first two ways comes from
FRAMELATCH_SIGN_PASSWORD_FILE or FRAMELATCH_SIGN_PASSWORD and reaches
osslsigncode on its standard input, which every osslsigncode since 2.5 reads.
Optional: FRAMELATCH_SIGN_URL (the project's web address, shown with the
program name) and FRAMELATCH_SIGN_TIMESTAMP_URL (an RFC 3161 server, so the
signature outlives the certificate), with FRAMELATCH_SIGN_TIMESTAMP_CA to verify
its answer where the system's certificates do not.

The signature's certificates are checked against their issuers' CRLs here, the
same whatever osslsigncode does of its own: fetched from the addresses the
certificates name, or read from FRAMELATCH_SIGN_CRL (PEM or DER CRLs, fetched
beforehand) on a machine that cannot reach them. A key that is not RSA is
refused, as Smart App Control refuses its signatures, unless
FRAMELATCH_SIGN_ALLOW_NON_RSA=1 says the release is not meant for it."""
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import urllib.request
import zipfile
from pathlib import Path

WAYS = ("FRAMELATCH_SIGN_PKCS12", "FRAMELATCH_SIGN_PKCS11_MODULE", "FRAMELATCH_SIGN_COMMAND")
PROGRAM_NAME = "Framelatch"


class SigningFailed(Exception):
    pass


def certificate_table(data):
    """(offset, size) of a PE file's certificate table; (0, 0) without one."""
    pe = int.from_bytes(data[0x3C:0x40], "little")
    optional = pe + 24
    wide = int.from_bytes(data[optional:optional + 2], "little") == 0x20B
    entry = optional + (144 if wide else 128)           # data directory 4: the certificate table
    return int.from_bytes(data[entry:entry + 4], "little"), int.from_bytes(data[entry + 4:entry + 8], "little")


def is_signed(data):
    return certificate_table(data)[1] > 0


def setting(name):
    return os.environ.get(name) or None


def password():
    if path := setting("FRAMELATCH_SIGN_PASSWORD_FILE"):
        try:
            if Path(path).stat().st_mode & 0o077:
                print(f"sign-program: note: other users may read {path}; chmod 600 it", file=sys.stderr)
            return Path(path).read_text().rstrip("\r\n")
        except OSError as error:
            raise SigningFailed(f"the password file cannot be read: {error.strerror}") from None
    return os.environ.get("FRAMELATCH_SIGN_PASSWORD")


def what_went_wrong(output):
    """osslsigncode's reason, in a maintainer's words, where it is a known one."""
    known = (
        (r"Wrong password|mac verify failure", "wrong password for the PKCS#12 file"),
        (r"key values mismatch|consistency of a private key", "the key does not match the certificate"),
        (r"PIN_INCORRECT|PIN_LEN_RANGE|Failed to load private key", "the PKCS#11 key cannot be used "
                                                                  "(a wrong PIN, or no key at that URI)"),
        (r"purpose XKU_CODE_SIGN|unsupported certificate purpose",
         "the certificate is not for code signing (its extended key usage lacks codeSigning)"),
        (r"certificate verify error|unable to get (local )?issuer|self-signed certificate in certificate chain",
         "the certificate's chain does not verify against FRAMELATCH_SIGN_CA"),
        (r"No signature found", "the file carries no signature"),
        (r"timestamping failed|Timestamp Server Signature verification: failed",
         "the timestamp server (FRAMELATCH_SIGN_TIMESTAMP_URL) gave no timestamp that verifies"),
    )
    for pattern, reason in known:
        if re.search(pattern, output):
            return reason
    return None


def run_osslsigncode(arguments, secret=None):
    result = subprocess.run(["osslsigncode", *arguments], input=secret, capture_output=True, text=True)
    return result.returncode, result.stdout + result.stderr


def sign_with_osslsigncode(path, way):
    secret = password()
    if way == "FRAMELATCH_SIGN_PKCS12":
        key = ["-pkcs12", os.environ[way]]
    else:
        module, key_uri, certs = (setting(f"FRAMELATCH_SIGN_{name}") for name in ("PKCS11_MODULE", "PKCS11_KEY", "CERTS"))
        if not key_uri or not certs:
            raise SigningFailed("a PKCS#11 key needs FRAMELATCH_SIGN_PKCS11_KEY (its URI) and "
                                "FRAMELATCH_SIGN_CERTS (its certificate)")
        key = ["-pkcs11module", module, "-certs", certs, "-key", key_uri]
    options = ["-h", "sha256", "-n", PROGRAM_NAME]
    if url := setting("FRAMELATCH_SIGN_URL"):
        options += ["-i", url]
    if timestamp := setting("FRAMELATCH_SIGN_TIMESTAMP_URL"):
        options += ["-ts", timestamp]
    if secret is not None:
        # A path rather than "-", which osslsigncode 2.5 (Debian 12's) cannot read from.
        options += ["-readpass", "/dev/stdin"]
    signed = path.with_name(path.name + ".signed")
    status, output = run_osslsigncode(["sign", *key, *options, "-in", str(path), "-out", str(signed)], secret)
    if status != 0:
        signed.unlink(missing_ok=True)
        raise SigningFailed(f"osslsigncode could not sign {path.name}: "
                            f"{what_went_wrong(output) or 'see its output'}\n{output.strip()}")
    signed.replace(path)


def sign_with_command(path):
    command = shlex.split(os.environ["FRAMELATCH_SIGN_COMMAND"]) + [str(path)]
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        raise SigningFailed(f"the signing command exited with {result.returncode}\n"
                            f"{(result.stdout + result.stderr).strip()}")


def verify(path):
    """Holds the signed file to what a release needs, or says what it lacks."""
    data = path.read_bytes()
    start, size = certificate_table(data)
    if size == 0:
        raise SigningFailed(f"{path.name} carries no signature after signing: the signing step signed nothing")
    if start + size != len(data):
        raise SigningFailed(f"{path.name} has {len(data) - start - size} bytes after its signature, "
                            "outside what the signature's digest covers")
    with tempfile.TemporaryDirectory() as folder:
        chain = SignatureChain(path, Path(folder))
        chain.fetch_crls()
        output = verify_with_osslsigncode(path, chain)
        # Each certificate on its own as well, so that a refusal names it.
        chain.check_revocation()
        signer = re.search(r"Signer's certificate:.*?Serial\s*:\s*([0-9A-Fa-f]+)", output, re.S)
        chain.check_key(signer.group(1) if signer else "")


def verify_with_osslsigncode(path, chain):
    arguments = ["verify", "-CAfile", os.environ["FRAMELATCH_SIGN_CA"], "-in", str(path)]
    if fetches_crls_itself():
        # It is given the CRLs instead: the same ones, whatever its version.
        arguments.append("-ignore-cdp")
    if chain.covered:
        arguments += ["-CRLfile", str(chain.crl_file), "-TSA-CRLfile", str(chain.crl_file)]
    if timestamp_ca := setting("FRAMELATCH_SIGN_TIMESTAMP_CA"):
        arguments += ["-TSA-CAfile", timestamp_ca]
    status, output = run_osslsigncode(arguments)
    if status != 0 or "Signature verification: ok" not in output:
        reason = what_went_wrong(output) or "see osslsigncode"
        if "certificate revoked" in output:
            reason = f"a certificate of the signature is revoked (by the CRL from {chain.crl_source})"
        raise SigningFailed(f"the signature of {path.name} does not verify: {reason}\n{output.strip()}")
    digests = set(re.findall(r"(?:Current|Calculated) message digest\s*:\s*(\S+)", output))
    if len(digests) != 1:
        raise SigningFailed(f"the signature's digest of {path.name} is not the file's")
    if not re.search(r"^Message digest algorithm\s*:\s*SHA256\s*$", output, re.M):
        raise SigningFailed(f"{path.name} is not signed with SHA-256, which Windows asks of new signatures")
    if setting("FRAMELATCH_SIGN_TIMESTAMP_URL") and "Timestamp Server Signature verification: ok" not in output:
        raise SigningFailed(f"{path.name} carries no timestamp that verifies, though FRAMELATCH_SIGN_TIMESTAMP_URL "
                            "asks for one")
    if f"Text description: {PROGRAM_NAME}" not in output:
        print(f"sign-program: note: the signature does not name the program \"{PROGRAM_NAME}\"; "
              "Windows shows the file name in its place", file=sys.stderr)
    return output


def fetches_crls_itself():
    """Whether this osslsigncode fetches CRLs while it verifies (2.8 and later)."""
    result = subprocess.run(["osslsigncode", "verify", "--help"], capture_output=True, text=True)
    return "-ignore-cdp" in result.stdout + result.stderr


def openssl(*arguments, data=None):
    result = subprocess.run(["openssl", *map(str, arguments)], input=data, capture_output=True)
    return result.returncode, result.stdout.decode(errors="replace") + result.stderr.decode(errors="replace")


def as_pem_crls(data, source):
    """CRLs in PEM, from PEM or DER bytes."""
    if b"-----BEGIN X509 CRL-----" in data:
        return data.decode("ascii", errors="replace")
    status, pem = openssl("crl", "-inform", "DER", "-outform", "PEM", data=data)
    if status != 0:
        raise SigningFailed(f"{source} holds no CRL (neither PEM nor DER)")
    return pem


class SignatureChain:
    """The certificates a signed file carries, the signer's and its timestamp's,
    held to what Windows checks of them beyond the chain: the signer's key, and
    revocation."""

    PEM = r"-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----\n"

    def __init__(self, path, folder):
        self.crl_file = folder / "crls.pem"
        self.crl_source, self.covered = None, []
        # The certificate table's one entry: an 8-byte header, then the signature.
        data = path.read_bytes()
        start, size = certificate_table(data)
        der = data[start + 8:start + size]
        signature = folder / "signature.der"
        signature.write_bytes(der)
        # The signer's own SignedData comes first; a timestamp's is nested in it.
        lines = openssl("asn1parse", "-inform", "DER", "-in", signature)[1].splitlines()
        self.certificates = []     # (file, the roots it is to verify against, the certificates beside it)
        signed_data = [tuple(map(int, found.groups())) for line, following in zip(lines, lines[1:])
                       if (found := re.match(r"\s*(\d+):d=\d+\s+hl=\s*(\d+)\s+l=\s*(\d+) cons: SEQUENCE", line))
                       and following.rstrip().endswith(":pkcs7-signedData")]
        for group, (start, header, length) in enumerate(signed_data):
            text = openssl("pkcs7", "-inform", "DER", "-print_certs", data=der[start:start + header + length])[1]
            pems = re.findall(self.PEM, text, re.S)
            bundle = folder / f"certificates-{group}.pem"
            bundle.write_text("".join(pems))
            roots = setting("FRAMELATCH_SIGN_CA") if group == 0 else setting("FRAMELATCH_SIGN_TIMESTAMP_CA")
            for number, pem in enumerate(pems):
                file = folder / f"certificate-{group}-{number}.pem"
                file.write_text(pem)
                self.certificates.append((file, ["-CAfile", roots] if roots else [], bundle))

    @staticmethod
    def field(certificate, *arguments):
        return openssl("x509", "-noout", "-in", certificate, "-nameopt", "oneline", *arguments)[1].strip()

    def subject(self, certificate):
        return self.field(certificate, "-subject").removeprefix("subject=").strip()

    def check_key(self, signer_serial):
        signer = next((c for c, _, _ in self.certificates
                       if self.field(c, "-serial").split("=")[-1].upper() == signer_serial.upper()), None)
        if not signer:
            raise SigningFailed("the signer's certificate is not among those the signature carries")
        algorithm = re.search(r"Public Key Algorithm:\s*(\S+)", self.field(signer, "-text"))
        algorithm = algorithm.group(1) if algorithm else "unknown"
        if algorithm == "rsaEncryption":
            return
        what = (f"the signing key is not RSA ({algorithm}): Smart App Control on Windows 11 accepts only RSA "
                "signatures, so it would block this release")
        if os.environ.get("FRAMELATCH_SIGN_ALLOW_NON_RSA") != "1":
            raise SigningFailed(f"{what}. Sign with an RSA key, or set FRAMELATCH_SIGN_ALLOW_NON_RSA=1 to "
                                "release it for the Windows that accept it")
        print(f"sign-program: warning: {what} (FRAMELATCH_SIGN_ALLOW_NON_RSA=1)", file=sys.stderr)

    def issued(self):
        """The certificates that have an issuer: all but the self-signed roots."""
        return [entry for entry in self.certificates if self.field(entry[0], "-subject")[len("subject="):] !=
                self.field(entry[0], "-issuer")[len("issuer="):]]

    def fetch_crls(self):
        """Writes the chain's CRLs to crl_file, and says where they came from and
        which certificates they are to cover; fails closed where one cannot be had."""
        if given := setting("FRAMELATCH_SIGN_CRL"):
            try:
                self.crl_file.write_text(as_pem_crls(Path(given).read_bytes(), given))
            except OSError as error:
                raise SigningFailed(f"FRAMELATCH_SIGN_CRL cannot be read: {error.strerror}") from None
            self.crl_source, self.covered = given, self.issued()
            return
        crls = {}       # address: its CRL, fetched once however many certificates name it
        for entry in self.issued():
            certificate = entry[0]
            addresses = re.findall(r"URI:(\S+)", self.field(certificate, "-ext", "crlDistributionPoints"))
            if not addresses:
                print(f"sign-program: note: {self.subject(certificate)} names no CRL address; "
                      "its revocation is not checked", file=sys.stderr)
                continue
            reasons = []
            for address in addresses:
                try:
                    if address not in crls:
                        with urllib.request.urlopen(address, timeout=30) as answer:
                            crls[address] = as_pem_crls(answer.read(), address)
                    self.covered.append(entry)
                    break
                except (OSError, ValueError) as error:
                    reason = getattr(error, "reason", error)
                    reasons.append(f"{address} ({getattr(reason, 'strerror', None) or reason})")
            else:
                raise SigningFailed(
                    f"the CRL of {self.subject(certificate)} cannot be fetched from {', '.join(reasons)}, so "
                    "its revocation cannot be checked. Where this machine cannot reach that address, fetch the "
                    "CRL beforehand and name the file in FRAMELATCH_SIGN_CRL")
        self.crl_file.write_text("".join(crls.values()))
        self.crl_source = ", ".join(crls)

    def check_revocation(self):
        source = self.crl_source
        for certificate, roots, bundle in self.covered:
            status, output = openssl("verify", *roots, "-untrusted", bundle, "-CRLfile", self.crl_file, "-crl_check",
                                     certificate)
            if status == 0:
                continue
            subject = self.subject(certificate)
            if "certificate revoked" in output:
                raise SigningFailed(f"the certificate {subject} is revoked (by the CRL from {source})")
            if "unable to get certificate CRL" in output:
                raise SigningFailed(f"no CRL of the issuer of {subject} in {source}")
            if "CRL has expired" in output:
                raise SigningFailed(f"the CRL from {source} has expired: fetch a current one")
            raise SigningFailed(f"the revocation of {subject} cannot be checked with the CRL from {source}\n"
                                f"{output.strip()}")
        if self.covered:
            print(f"sign-program: no certificate of the signature is revoked (CRL from {source})")


def sign(path):
    ways = [way for way in WAYS if setting(way)]
    if not ways:
        return False
    if len(ways) > 1:
        raise SigningFailed(f"one way of signing at a time: {' and '.join(ways)} are both set")
    if not setting("FRAMELATCH_SIGN_CA"):
        raise SigningFailed("FRAMELATCH_SIGN_CA must name the root certificates the signature is to verify against")
    if ways[0] != "FRAMELATCH_SIGN_COMMAND" and not shutil.which("osslsigncode"):
        raise SigningFailed("osslsigncode is not installed (scripts/install-deps.sh installs it)")
    if is_signed(path.read_bytes()):
        raise SigningFailed(f"{path.name} is signed already")
    if ways[0] == "FRAMELATCH_SIGN_COMMAND":
        sign_with_command(path)
    else:
        sign_with_osslsigncode(path, ways[0])
    verify(path)
    return True


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("sign", "signed"):
        sys.exit(__doc__.split("\n\n")[1])
    path = Path(sys.argv[2])
    if sys.argv[1] == "signed":
        with zipfile.ZipFile(path) as archive:
            sys.exit(0 if is_signed(archive.read("Framelatch.exe")) else 1)
    try:
        if sign(path):
            print(f"sign-program: {path.name} signed, and its signature verifies")
    except SigningFailed as failure:
        sys.exit(f"sign-program: {failure}")


if __name__ == "__main__":
    main()
