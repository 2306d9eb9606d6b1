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
osslsigncode on its standard input. Optional: FRAMELATCH_SIGN_URL (the project's
web address, shown with the program name) and FRAMELATCH_SIGN_TIMESTAMP_URL (an
RFC 3161 server, so the signature outlives the certificate), with
FRAMELATCH_SIGN_TIMESTAMP_CA to verify its answer where the system's
certificates do not."""
import os
import re
import shlex
import shutil
import subprocess
import sys
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
        options += ["-readpass", "-"]
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
    arguments = ["verify", "-CAfile", os.environ["FRAMELATCH_SIGN_CA"], "-in", str(path)]
    if timestamp_ca := setting("FRAMELATCH_SIGN_TIMESTAMP_CA"):
        arguments += ["-TSA-CAfile", timestamp_ca]
    status, output = run_osslsigncode(arguments)
    if status != 0 or "Signature verification: ok" not in output:
        raise SigningFailed(f"the signature of {path.name} does not verify: "
                            f"{what_went_wrong(output) or 'see osslsigncode'}\n{output.strip()}")
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
