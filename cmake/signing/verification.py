"""Holds a signed file to what a release needs. osslsigncode's verify decides
the signature: its chain, the code-signing purpose, the digest over the whole
file and the timestamp. openssl decides each certificate's revocation, the
intermediates' as well, from the CRLs the maintainer gives; nothing is
fetched. What this code reads itself: that the signer's key is RSA, and
which certificate a failure is about."""
import os
import re
import ssl
import tempfile
from pathlib import Path

from signing.certificates import given_crls, read_certificates
from signing.crls import check_revocation
from signing.tools import SigningFailed, reason, run

VERIFY_FAILURES = (
    (r"unsupported certificate purpose|purpose XKU_CODE_SIGN",
     "the certificate is not for code signing (its extended key usage lacks codeSigning)"),
    (r"unable to get (local )?issuer certificate|self.signed certificate in certificate chain|certificate "
     r"signature failure", "the certificate's chain does not verify against FRAMELATCH_SIGN_CA"),
    (r"No signature found", "the file carries no signature: the signing step signed nothing"),
    (r"Corrupt PE file", "the file is not whole around its signature (bytes after it, or a broken table)"),
)


def signer_named(output, heading):
    """(issuer, serial) of the signer that osslsigncode names under a heading."""
    found = re.search(re.escape(heading) + r".*?Issuer\s*:\s*(.*?)\n\s*Serial\s*:\s*(\w+)", output, re.S)
    return (found.group(1).strip(), int(found.group(2), 16)) if found else None


def osslsigncode_verify(path, crls):
    arguments = ["verify", "-CAfile", os.environ["FRAMELATCH_SIGN_CA"], "-in", path]
    _, usage = run(["osslsigncode", "verify", "--help"])
    if "-ignore-cdp" in usage:
        # 2.8 and later: the CRLs are the given ones, as on 2.5, which fetches none.
        arguments.append("-ignore-cdp")
    if crls:
        arguments += ["-CRLfile", crls, "-TSA-CRLfile", crls]
    if timestamp_ca := os.environ.get("FRAMELATCH_SIGN_TIMESTAMP_CA"):
        arguments += ["-TSA-CAfile", timestamp_ca]
    return run(["osslsigncode", *arguments])


def verify(path):
    """Fails with the reason where the signed file is not what a release needs."""
    name = Path(path).name
    with tempfile.TemporaryDirectory() as folder:
        folder = Path(folder)
        crls = given_crls(folder)
        status, output = osslsigncode_verify(path, crls)
        signer = signer_named(output, "Signer's certificate:")
        failure = f"the signature of {name} does not verify: {reason(output, VERIFY_FAILURES)}" if status else None
        if not signer:
            raise SigningFailed(failure or f"osslsigncode names no signer of {name}")
        timestamp = signer_named(output, "Countersignatures:") or signer_named(output, "Timestamp Verified by:")
        roots = {"signer": os.environ["FRAMELATCH_SIGN_CA"]}
        if timestamp:
            roots["timestamp"] = (os.environ.get("FRAMELATCH_SIGN_TIMESTAMP_CA") or
                                  ssl.get_default_verify_paths().openssl_cafile)
        carried, certificates = read_certificates(path, set(roots.values()), folder)
        by_id = {certificate.signer_id: certificate for certificate in carried}
        # osslsigncode names only signers among the certificates the signature carries.
        leaves = {role: by_id[named] for role, named in (("signer", signer), ("timestamp", timestamp)) if named}
        # The revocation first: the same reason on every osslsigncode, for a CRL not given as for one that says so.
        for role, leaf in leaves.items():
            check_revocation(role, leaf, roots[role], certificates, crls, failure)
        if failure:
            raise SigningFailed(failure)
        if not re.search(r"^Message digest algorithm\s*:\s*SHA256\s*$", output, re.M):
            raise SigningFailed(f"{name} is not signed with SHA-256, which Windows asks of new signatures")
        if os.environ.get("FRAMELATCH_SIGN_TIMESTAMP_URL") and not re.search(
                r"^Timestamp Server Signature verification: ok", output, re.M):
            raise SigningFailed(f"{name} carries no timestamp that verifies, though FRAMELATCH_SIGN_TIMESTAMP_URL "
                                "asks for one")
        if "Text description: Framelatch" not in output:
            print("sign-program: note: the signature does not name the program \"Framelatch\"; Windows shows the "
                  "file name in its place")
        check_key(leaves["signer"].key_algorithm())


def check_key(algorithm):
    """The signer's key must be RSA: Smart App Control refuses other signatures."""
    if algorithm == "rsaEncryption":
        return
    what = (f"the signing key is not RSA ({algorithm}): Smart App Control on Windows 11 accepts only RSA "
            "signatures, so it would block this release")
    if os.environ.get("FRAMELATCH_SIGN_ALLOW_NON_RSA") != "1":
        raise SigningFailed(f"{what}. Sign with an RSA key, or set FRAMELATCH_SIGN_ALLOW_NON_RSA=1 to release it "
                            "for the Windows that accept it")
    print(f"sign-program: warning: {what} (FRAMELATCH_SIGN_ALLOW_NON_RSA=1)")
