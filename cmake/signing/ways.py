"""The three ways of signing: a PKCS#12 file or a PKCS#11 key, through
osslsigncode, or a command of the maintainer's that signs in place."""
import os
import shlex
from pathlib import Path

from signing.tools import SigningFailed, reason, run

WAYS = ("FRAMELATCH_SIGN_PKCS12", "FRAMELATCH_SIGN_PKCS11_MODULE", "FRAMELATCH_SIGN_COMMAND")
SIGN_FAILURES = (
    (r"Wrong password|mac verify failure", "wrong password for the PKCS#12 file"),
    (r"key values mismatch|consistency of a private key", "the key does not match the certificate"),
    (r"PIN_INCORRECT|PIN_LEN_RANGE|Failed to load private key",
     "the PKCS#11 key cannot be used (a wrong PIN, or no key at that URI)"),
    (r"timestamping failed", "the timestamp server (FRAMELATCH_SIGN_TIMESTAMP_URL) gave no timestamp"),
)


def setting(name):
    return os.environ.get(name) or None


def signing_seconds():
    """How long signing may take: a token may wait for its owner's touch."""
    try:
        return int(setting("FRAMELATCH_SIGN_SECONDS") or 600)
    except ValueError:
        raise SigningFailed("FRAMELATCH_SIGN_SECONDS must be a whole number of seconds") from None


def chosen_way():
    """The one way the environment asks for, or None for an unsigned release."""
    if "FRAMELATCH_SIGN_PASSWORD" in os.environ:
        raise SigningFailed("FRAMELATCH_SIGN_PASSWORD is not read, so that no program the release runs gets it: "
                            "put the password or PIN in a file and name it in FRAMELATCH_SIGN_PASSWORD_FILE")
    ways = [way for way in WAYS if setting(way)]
    if len(ways) > 1:
        raise SigningFailed(f"one way of signing at a time: {' and '.join(ways)} are both set")
    return ways[0] if ways else None


def password():
    """The password or PIN, from FRAMELATCH_SIGN_PASSWORD_FILE only; None without one."""
    if not (path := setting("FRAMELATCH_SIGN_PASSWORD_FILE")):
        return None
    try:
        if Path(path).stat().st_mode & 0o077:
            print(f"sign-program: note: other users may read {path}; chmod 600 it")
        return Path(path).read_text().rstrip("\r\n")
    except OSError as error:
        raise SigningFailed(f"the password file cannot be read: {error.strerror}") from None


def sign(path, way):
    """Signs the file in place, or fails; verifying it is the caller's."""
    if way == "FRAMELATCH_SIGN_COMMAND":
        status, output = run(shlex.split(os.environ[way]) + [path], signing_seconds(), what="the signing command")
        if status != 0:
            raise SigningFailed(f"the signing command exited with {status}: {reason(output, ())}")
        return
    if way == "FRAMELATCH_SIGN_PKCS12":
        key = ["-pkcs12", os.environ[way]]
    elif setting("FRAMELATCH_SIGN_PKCS11_KEY") and setting("FRAMELATCH_SIGN_CERTS"):
        key = ["-pkcs11module", os.environ[way], "-certs", os.environ["FRAMELATCH_SIGN_CERTS"],
               "-key", os.environ["FRAMELATCH_SIGN_PKCS11_KEY"]]
    else:
        raise SigningFailed("a PKCS#11 key needs FRAMELATCH_SIGN_PKCS11_KEY (its URI) and "
                            "FRAMELATCH_SIGN_CERTS (its certificate)")
    options = ["-h", "sha256", "-n", "Framelatch"]
    if url := setting("FRAMELATCH_SIGN_URL"):
        options += ["-i", url]
    if timestamp := setting("FRAMELATCH_SIGN_TIMESTAMP_URL"):
        options += ["-ts", timestamp]
    secret = password()
    if secret is not None:
        # A path rather than "-", which osslsigncode 2.5 (Debian 12's) cannot read from.
        options += ["-readpass", "/dev/stdin"]
    signed = Path(f"{path}.signed")
    try:
        status, output = run(["osslsigncode", "sign", *key, *options, "-in", path, "-out", signed],
                             signing_seconds(), secret)
        if status != 0:
            raise SigningFailed(f"osslsigncode could not sign {Path(path).name}: {reason(output, SIGN_FAILURES)}")
        signed.replace(path)
    finally:
        signed.unlink(missing_ok=True)
