#!/usr/bin/env python3
"""Signs a release's Framelatch.exe with Authenticode (SHA-256) and proves the
signature, or fails: a release is signed whole or not at all.

    sign-program.py sign FILE              sign FILE in place where signing is asked for
    sign-program.py belongs THIS.zip OTHER.zip
                                           exit 0 if OTHER (another build's zip) belongs
                                           to THIS one's release: both unsigned, or
                                           both signed and OTHER's signature verifies

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

The step trusts nothing it has not verified. It reads the signature with a
CMS parser: the signer is the certificate its SignerInfo names (issuer and
serial number), and so is its timestamp's. It builds each one's chain to a root
of FRAMELATCH_SIGN_CA (FRAMELATCH_SIGN_TIMESTAMP_CA, or the system's roots, for
the timestamp), from the certificates carried in the signature and those in the
file, and verifies it before anything is fetched. Then every certificate below
a root on those chains, the intermediates' as well as the signer's, is checked
against its issuer's CRL, the same whatever osslsigncode would do of its own
(2.6 and later fetch the signer's CRL themselves; 2.8 and later are told not
to): fetched from the http or https addresses the certificates name (no other
scheme is opened, redirects go to those only, an answer of at most 32 MiB
within 60 s), or read from FRAMELATCH_SIGN_CRL (PEM or DER CRLs, fetched
beforehand) on a machine that cannot reach them. A key that is not RSA is
refused, as Smart App Control refuses its signatures, unless
FRAMELATCH_SIGN_ALLOW_NON_RSA=1 says the release is not meant for it."""
import http.client
import os
import re
import shlex
import shutil
import ssl
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request
import zipfile
from pathlib import Path

try:
    from asn1crypto import cms, crl, pem, x509
except ImportError:
    sys.exit("sign-program: python3-asn1crypto is not installed (scripts/install-deps.sh installs it)")

WAYS = ("FRAMELATCH_SIGN_PKCS12", "FRAMELATCH_SIGN_PKCS11_MODULE", "FRAMELATCH_SIGN_COMMAND")
PROGRAM_NAME = "Framelatch"
# What every program this step runs gets: the environment without the password,
# which reaches osslsigncode on its standard input only.
CHILD_ENV = {name: value for name, value in os.environ.items() if name != "FRAMELATCH_SIGN_PASSWORD"}
# How long signing may take (a token may wait for its owner's touch), and anything else.
SIGNING_SECONDS, TOOL_SECONDS = 600, 120


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


def run_osslsigncode(arguments, secret=None, seconds=TOOL_SECONDS):
    try:
        result = subprocess.run(["osslsigncode", *arguments], input=secret, capture_output=True, text=True,
                                env=CHILD_ENV, timeout=seconds)
    except subprocess.TimeoutExpired:
        raise SigningFailed(f"osslsigncode {arguments[0]} did not finish within {seconds} s") from None
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
    try:
        status, output = run_osslsigncode(["sign", *key, *options, "-in", str(path), "-out", str(signed)], secret,
                                          SIGNING_SECONDS)
    finally:
        if not signed.exists() or signed.stat().st_size == 0:
            signed.unlink(missing_ok=True)
    if status != 0:
        signed.unlink(missing_ok=True)
        raise SigningFailed(f"osslsigncode could not sign {path.name}: {what_went_wrong(output) or last_words(output)}")
    signed.replace(path)


def sign_with_command(path):
    command = shlex.split(os.environ["FRAMELATCH_SIGN_COMMAND"]) + [str(path)]
    try:
        result = subprocess.run(command, capture_output=True, text=True, env=CHILD_ENV, timeout=SIGNING_SECONDS)
    except subprocess.TimeoutExpired:
        raise SigningFailed(f"the signing command did not finish within {SIGNING_SECONDS} s") from None
    except OSError as error:
        raise SigningFailed(f"the signing command cannot be run: {error.strerror}") from None
    if result.returncode != 0:
        raise SigningFailed(f"the signing command exited with {result.returncode}: "
                            f"{last_words(result.stdout + result.stderr)}")


def verify(path):
    """Holds the signed file to what a release needs, or says what it lacks.
    Nothing is fetched before the chains are verified, and then only the CRLs
    of the certificates on them."""
    data = path.read_bytes()
    start, size = certificate_table(data)
    if size == 0:
        raise SigningFailed(f"{path.name} carries no signature after signing: the signing step signed nothing")
    if start + size != len(data):
        raise SigningFailed(f"{path.name} has {len(data) - start - size} bytes after its signature, "
                            "outside what the signature's digest covers")
    with tempfile.TemporaryDirectory() as folder:
        signature = Signature(data[start + 8:start + size])
        chains = [Chain(role, signer, pool, roots, Path(folder))
                  for role, signer, pool, roots in signature.signers()]
        revocation = Revocation(chains, Path(folder))
        revocation.check()
        verify_with_osslsigncode(path, revocation)
        check_key(signature.signer)


def verify_with_osslsigncode(path, revocation):
    arguments = ["verify", "-CAfile", os.environ["FRAMELATCH_SIGN_CA"], "-in", str(path)]
    if fetches_crls_itself():
        # It is given the CRLs instead: the same ones, whatever its version.
        arguments.append("-ignore-cdp")
    if revocation.covered:
        arguments += ["-CRLfile", str(revocation.crl_file), "-TSA-CRLfile", str(revocation.crl_file)]
    if timestamp_ca := setting("FRAMELATCH_SIGN_TIMESTAMP_CA"):
        arguments += ["-TSA-CAfile", timestamp_ca]
    status, output = run_osslsigncode(arguments)
    if status != 0 or "Signature verification: ok" not in output:
        raise SigningFailed(f"the signature of {path.name} does not verify: "
                            f"{what_went_wrong(output) or last_words(output)}")
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
    """Whether this osslsigncode can be told not to fetch CRLs while it verifies
    (2.8 and later; 2.6 and 2.7 fetch the signer's, from the address its
    certificate names, once its chain is verified here)."""
    result = subprocess.run(["osslsigncode", "verify", "--help"], capture_output=True, text=True, env=CHILD_ENV,
                            timeout=60)
    return "-ignore-cdp" in result.stdout + result.stderr


def openssl(*arguments, data=None):
    try:
        result = subprocess.run(["openssl", *map(str, arguments)], input=data, capture_output=True, env=CHILD_ENV,
                                timeout=120)
    except subprocess.TimeoutExpired:
        raise SigningFailed(f"openssl {arguments[0]} did not finish within 120 s") from None
    return result.returncode, result.stdout.decode(errors="replace") + result.stderr.decode(errors="replace")


def last_words(output):
    """A tool's last line that says something, for a failure it gives no known reason for."""
    lines = [line.strip() for line in output.splitlines() if line.strip()]
    return f"it said \"{lines[-1]}\"" if lines else "it said nothing"


def name_of(certificate):
    return certificate.subject.human_friendly


def certificates_in(data, source):
    """The certificates in PEM or DER bytes."""
    try:
        if pem.detect(data):
            return [x509.Certificate.load(der) for kind, _, der in pem.unarmor(data, multiple=True)
                    if kind == "CERTIFICATE"]
        return [x509.Certificate.load(data)]
    except ValueError:
        raise SigningFailed(f"{source} holds no certificates (neither PEM nor DER)") from None


def crls_in(data, source):
    """The CRLs in PEM or DER bytes."""
    try:
        if pem.detect(data):
            found = [crl.CertificateList.load(der) for kind, _, der in pem.unarmor(data, multiple=True)
                     if kind == "X509 CRL"]
        else:
            found = [crl.CertificateList.load(data)]
            found[0].native        # parsed whole, so that bytes that are no CRL fail here
    except ValueError:
        found = []
    if not found:
        raise SigningFailed(f"{source} holds no CRL (neither PEM nor DER)")
    return found


def read_certificates(name):
    try:
        return certificates_in(Path(os.environ[name]).read_bytes(), name)
    except OSError as error:
        raise SigningFailed(f"{name} cannot be read: {error.strerror}") from None


def system_roots():
    """The system's root certificates, for a timestamp's chain where no
    FRAMELATCH_SIGN_TIMESTAMP_CA is given."""
    path = ssl.get_default_verify_paths().openssl_cafile
    return path, certificates_in(Path(path).read_bytes(), path) if Path(path).exists() else []


def is_self_issued(certificate):
    return certificate.subject == certificate.issuer


class Signature:
    """The Authenticode signature of a file, read with a CMS parser: the
    signer, named by its SignerInfo (issuer and serial number), and its
    timestamp's signer, each with the certificates carried beside it."""

    TIMESTAMP_TOKEN = "1.3.6.1.4.1.311.3.3.1"      # an RFC 3161 timestamp, as Authenticode carries it
    COUNTER_SIGNATURE = "1.2.840.113549.1.9.6"     # a timestamp of the older kind

    def __init__(self, der):
        try:
            content = cms.ContentInfo.load(der)
            self.signed_data = content["content"]
            signer_info = self.signed_data["signer_infos"][0]
            self.signer = self.named(signer_info, self.signed_data)
            self.timestamp = None
            for attribute in signer_info["unsigned_attrs"] or []:
                oid = attribute["type"].dotted
                if oid == self.TIMESTAMP_TOKEN:
                    token = cms.ContentInfo.load(attribute["values"][0].dump())["content"]
                    self.timestamp = (self.named(token["signer_infos"][0], token), token)
                elif oid == self.COUNTER_SIGNATURE:
                    self.timestamp = (self.named(attribute["values"][0], self.signed_data), self.signed_data)
        except (ValueError, KeyError, IndexError, TypeError) as error:
            raise SigningFailed(f"the signature cannot be read as Authenticode ({error})") from None

    @staticmethod
    def carried(signed_data):
        return [choice.chosen for choice in signed_data["certificates"] or [] if choice.name == "certificate"]

    def named(self, signer_info, signed_data):
        """The certificate that a SignerInfo names, by issuer and serial number."""
        sid = signer_info["sid"]
        if sid.name != "issuer_and_serial_number":
            raise SigningFailed("the signer is named by a key identifier, which Authenticode does not use")
        issuer, serial = sid.chosen["issuer"], sid.chosen["serial_number"].native
        found = [c for c in self.carried(signed_data) if c.issuer == issuer and c.serial_number == serial]
        if not found:
            raise SigningFailed(f"the signer's certificate (serial {serial:X} of {issuer.human_friendly}) is not "
                                "among those the signature carries")
        return found[0]

    def signers(self):
        """(role, signer, the certificates beside it, root file) for the signer
        and for its timestamp's signer."""
        yield "the signer's", self.signer, self.carried(self.signed_data), "FRAMELATCH_SIGN_CA"
        if self.timestamp:
            signer, signed_data = self.timestamp
            yield "the timestamp's", signer, self.carried(signed_data), "FRAMELATCH_SIGN_TIMESTAMP_CA"


class Chain:
    """A signer's chain, from its certificate to a root of the given file,
    built from the certificates the signature carries and those in the file,
    and verified (with no CRL yet) before anything is fetched for it."""

    def __init__(self, role, signer, carried, roots_setting, folder):
        if setting(roots_setting):
            self.roots_file, given = os.environ[roots_setting], read_certificates(roots_setting)
        elif roots_setting == "FRAMELATCH_SIGN_CA":
            raise SigningFailed("FRAMELATCH_SIGN_CA must name the root certificates the signature is to verify against")
        else:
            self.roots_file, given = system_roots()
        anchors = [c for c in given if is_self_issued(c)]
        pool = anchors + [c for c in given + carried if not is_self_issued(c)]
        self.certificates = [signer]
        while not is_self_issued(self.certificates[-1]):
            last = self.certificates[-1]
            issuers = [c for c in pool if c.subject == last.issuer and c not in self.certificates
                       and (not last.authority_key_identifier or
                            last.authority_key_identifier == c.key_identifier)]
            if not issuers:
                raise SigningFailed(f"{role} certificate's chain does not verify against {roots_setting}: no "
                                    f"issuer of {name_of(last)} there or in the signature")
            self.certificates.append(issuers[0])
        if self.certificates[-1] not in anchors:
            raise SigningFailed(f"{role} certificate's chain does not verify against {roots_setting}: it ends at "
                                f"{name_of(self.certificates[-1])}, which is not there")
        self.role, self.roots_setting = role, roots_setting
        stem = folder / role.split("'")[0].split()[-1]
        self.leaf, self.intermediates = stem.with_suffix(".leaf.pem"), stem.with_suffix(".intermediates.pem")
        self.leaf.write_bytes(pem.armor("CERTIFICATE", signer.dump()))
        self.intermediates.write_bytes(b"".join(pem.armor("CERTIFICATE", c.dump()) for c in self.issued()[1:]))
        status, output = openssl("verify", "-CAfile", self.roots_file, *self.untrusted(), self.leaf)
        if status != 0:
            raise SigningFailed(f"{role} certificate's chain does not verify against {roots_setting}: "
                                f"{last_words(output)}")

    def untrusted(self):
        return ["-untrusted", self.intermediates] if len(self.certificates) > 2 else []

    def issued(self):
        """The chain's certificates below its root, the signer's first."""
        return self.certificates[:-1]

    def issuer_of(self, certificate):
        return self.certificates[self.certificates.index(certificate) + 1]


# What may be fetched for a CRL: the web's schemes only, a bounded answer in a bounded time.
CRL_SCHEMES = ("http", "https")
CRL_MAX_BYTES = 32 * 1024 * 1024
CRL_SECONDS = 60


class RefusedAddress(Exception):
    pass


class WebRedirectsOnly(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, request, answer, code, message, headers, address):
        if urllib.parse.urlsplit(address).scheme.lower() not in CRL_SCHEMES:
            raise RefusedAddress(f"it redirects to {address}, which is not http or https")
        return super().redirect_request(request, answer, code, message, headers, address)


def fetch_crl(address):
    """The bytes at an http or https address: at most CRL_MAX_BYTES, within CRL_SECONDS."""
    opener = urllib.request.OpenerDirector()
    for handler in (urllib.request.ProxyHandler(), urllib.request.HTTPHandler(), urllib.request.HTTPSHandler(),
                    WebRedirectsOnly(), urllib.request.HTTPErrorProcessor(), urllib.request.HTTPDefaultErrorHandler()):
        opener.add_handler(handler)
    deadline = time.monotonic() + CRL_SECONDS
    with opener.open(address, timeout=15) as answer:
        if int(answer.headers.get("Content-Length") or 0) > CRL_MAX_BYTES:
            raise RefusedAddress(f"its answer is larger than {CRL_MAX_BYTES // 2**20} MiB")
        data = bytearray()
        while chunk := answer.read1(65536):
            data += chunk
            if len(data) > CRL_MAX_BYTES:
                raise RefusedAddress(f"its answer is larger than {CRL_MAX_BYTES // 2**20} MiB")
            if time.monotonic() > deadline:
                raise RefusedAddress(f"its answer took longer than {CRL_SECONDS} s")
        return bytes(data)


class Revocation:
    """The CRLs of every certificate below a root on the verified chains,
    fetched from the addresses the certificates name or read from
    FRAMELATCH_SIGN_CRL; fails closed where one cannot be had."""

    def __init__(self, chains, folder):
        self.chains, self.crl_file = chains, folder / "crls.pem"
        self.crls = []           # (source, CRL)
        self.covered = []        # certificates with their issuer's CRL at hand
        issued = [c for chain in chains for c in chain.issued()]
        if given := setting("FRAMELATCH_SIGN_CRL"):
            try:
                self.crls = [(given, found) for found in crls_in(Path(given).read_bytes(), given)]
            except OSError as error:
                raise SigningFailed(f"FRAMELATCH_SIGN_CRL cannot be read: {error.strerror}") from None
            self.covered = issued
        else:
            fetched = {}         # address: its CRL, fetched once however many certificates name it
            for certificate in dict.fromkeys(issued):
                self.fetch(certificate, fetched)
        self.crl_file.write_bytes(b"".join(pem.armor("X509 CRL", found.dump()) for _, found in self.crls))

    def fetch(self, certificate, fetched):
        addresses = [name.native for point in certificate.crl_distribution_points
                     if point["distribution_point"].name == "full_name"
                     for name in point["distribution_point"].chosen if name.name == "uniform_resource_identifier"]
        web = [a for a in addresses if urllib.parse.urlsplit(a).scheme.lower() in CRL_SCHEMES]
        if not addresses:
            print(f"sign-program: note: {name_of(certificate)} names no CRL address; its revocation is not checked",
                  file=sys.stderr)
            return
        if not web:
            raise SigningFailed(f"the CRL address of {name_of(certificate)} is {', '.join(addresses)}, which is not "
                                "http or https: it is not opened, and its revocation cannot be checked. Fetch the "
                                "CRL beforehand and name the file in FRAMELATCH_SIGN_CRL")
        reasons = []
        for address in web:
            try:
                if address not in fetched:
                    fetched[address] = crls_in(fetch_crl(address), address)[0]
                    self.crls.append((address, fetched[address]))
                self.covered.append(certificate)
                return
            except (OSError, ValueError, RefusedAddress, http.client.HTTPException) as error:
                reason = getattr(error, "reason", error)
                reasons.append(f"{address} ({getattr(reason, 'strerror', None) or reason})")
            except SigningFailed as failure:
                reasons.append(f"{address} ({failure})")
        raise SigningFailed(
            f"the CRL of {name_of(certificate)} cannot be fetched from {', '.join(reasons)}, so its revocation "
            "cannot be checked. Where this machine cannot reach that address, fetch the CRL beforehand and name "
            "the file in FRAMELATCH_SIGN_CRL")

    def crl_of(self, chain, certificate):
        """(source, CRL) of the certificate's issuer on the chain, if at hand."""
        issuer = chain.issuer_of(certificate)
        return next(((source, found) for source, found in self.crls if found.issuer == issuer.subject), None)

    def check(self):
        """Every certificate below a root, on each chain, against its issuer's
        CRL: a revoked one is named, with the CRL that says so, and one whose
        issuer's CRL is not at hand fails too."""
        for chain in self.chains:
            for certificate in chain.issued():
                found = self.crl_of(chain, certificate)
                if found and any(entry["user_certificate"].native == certificate.serial_number
                                 for entry in found[1]["tbs_cert_list"]["revoked_certificates"] or []):
                    raise SigningFailed(f"the certificate {name_of(certificate)} is revoked (by the CRL from "
                                        f"{found[0]})")
        for chain in self.chains:
            for certificate in chain.issued():
                if certificate in self.covered and not self.crl_of(chain, certificate):
                    sources = ", ".join(dict.fromkeys(source for source, _ in self.crls)) or "nowhere"
                    raise SigningFailed(f"no CRL of {name_of(chain.issuer_of(certificate))}, the issuer of "
                                        f"{name_of(certificate)}, in {sources}")
            if not any(c in self.covered for c in chain.issued()):
                continue
            # The CRLs' own signatures and dates, and the whole chain at once, by openssl.
            status, output = openssl("verify", "-CAfile", chain.roots_file, *chain.untrusted(),
                                     "-CRLfile", self.crl_file, "-crl_check_all", chain.leaf)
            if status != 0:
                source = ", ".join(dict.fromkeys(source for source, _ in self.crls))
                if "CRL has expired" in output:
                    raise SigningFailed(f"a CRL from {source} has expired: fetch a current one")
                raise SigningFailed(f"the revocation of {chain.role} chain cannot be checked with the CRLs from "
                                    f"{source}: {last_words(output)}")
        if self.covered:
            sources = ", ".join(dict.fromkeys(source for source, _ in self.crls))
            print(f"sign-program: no certificate of the signature is revoked (CRL from {sources})")


def check_key(signer):
    """The signer's key must be RSA: Smart App Control refuses other signatures."""
    algorithm = signer.public_key.algorithm
    if algorithm == "rsa":
        return
    what = (f"the signing key is not RSA ({algorithm}): Smart App Control on Windows 11 accepts only RSA "
            "signatures, so it would block this release")
    if os.environ.get("FRAMELATCH_SIGN_ALLOW_NON_RSA") != "1":
        raise SigningFailed(f"{what}. Sign with an RSA key, or set FRAMELATCH_SIGN_ALLOW_NON_RSA=1 to "
                            "release it for the Windows that accept it")
    print(f"sign-program: warning: {what} (FRAMELATCH_SIGN_ALLOW_NON_RSA=1)", file=sys.stderr)


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


def belongs(this_zip, other_zip):
    """Whether another build's zip belongs to this one's release: both
    unsigned, or both signed and the other's signature verifies here and now,
    as this build's own did. A zip that cannot be read belongs to none."""
    def program(zip_path):
        with zipfile.ZipFile(zip_path) as archive:
            return archive.read("Framelatch.exe")
    try:
        this, other = program(this_zip), program(other_zip)
    except (OSError, KeyError, zipfile.BadZipFile) as error:
        print(f"sign-program: {Path(other_zip).name} cannot be read ({error})", file=sys.stderr)
        return False
    if not is_signed(this) or not is_signed(other):
        return is_signed(this) == is_signed(other)
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder, "Framelatch.exe")
        path.write_bytes(other)
        try:
            verify(path)
        except SigningFailed as failure:
            print(f"sign-program: {Path(other_zip).name}: {failure}", file=sys.stderr)
            return False
    return True


def main():
    usage = __doc__.split("\n\n")[1]
    if len(sys.argv) < 2 or (sys.argv[1], len(sys.argv)) not in (("sign", 3), ("belongs", 4)):
        sys.exit(usage)
    try:
        if sys.argv[1] == "belongs":
            sys.exit(0 if belongs(*sys.argv[2:]) else 1)
        path = Path(sys.argv[2])
        if sign(path):
            print(f"sign-program: {path.name} signed, and its signature verifies")
    except SigningFailed as failure:
        sys.exit(f"sign-program: {failure}")
    except Exception as error:   # a fault here still fails closed, in one line
        sys.exit(f"sign-program: the signing step failed unexpectedly ({type(error).__name__}: {error})")


if __name__ == "__main__":
    main()
