"""A throwaway signing authority for the release-signing tests: a CA, its
certificates and CRL, a software token, and its server on loopback."""
import http.server
import os
import shutil
import subprocess
import tempfile
import threading
import zipfile
from pathlib import Path

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
