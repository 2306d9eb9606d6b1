"""A throwaway signing authority for the release-signing tests, with a timestamp
server on loopback. Its certificates name CRL addresses that nothing serves: the
release step must take its CRLs from the files it is given."""
import http.server
import os
import shutil
import subprocess
import threading
import zipfile
from pathlib import Path

SOFTHSM_MODULE = Path("/usr/lib/softhsm/libsofthsm2.so")
CRL_SITE = "http://crl.framelatch.example/"


def verify_signature(path, ca, crls):
    """osslsigncode's verdict on a signed file against one CA and its CRLs: (passed, what it printed)."""
    usage = subprocess.run(["osslsigncode", "verify", "--help"], capture_output=True, text=True)
    offline = ["-ignore-cdp"] * ("-ignore-cdp" in usage.stdout + usage.stderr)
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-TSA-CAfile", ca, "-CRLfile", crls,
                             "-TSA-CRLfile", crls, *offline, "-in", path], capture_output=True, text=True)
    return result.returncode == 0 and "Signature verification: ok" in result.stdout, result.stdout + result.stderr


class ThrowawaySigner:
    """A certificate authority made for one test run with openssl, as a public one is: a root, an intermediate
    that issues the signers and the timestamp authority, and each CA's CRL. The signing key is in a PKCS#12 file
    and in a software token (SoftHSM); beside it, the certificates that a release must refuse."""

    PASSWORD = "release password"      # the token's PIN too
    SIGNER_SERIAL = "0x5EED"

    def __init__(self, folder):
        self.folder = Path(folder)
        self.ca = self.authority("Framelatch test root CA")
        self.intermediate = self.authority("Framelatch test CA", issuer=self.ca)
        self.revoked_intermediate = revoked_intermediate = self.authority("Revoked intermediate CA", issuer=self.ca)
        self.stranger_ca = self.authority("Some other CA")
        self.key, self.cert = self.certificate("Framelatch test signer", serial=self.SIGNER_SERIAL)
        _, self.other_cert = self.certificate("Another signer")
        self.pkcs12 = self.bundle(self.cert)
        self.tls_pkcs12 = self.signer("A web server", usage="serverAuth")
        self.revoked_pkcs12 = self.signer("Revoked signer")
        ecc_key, ecc = self.certificate("ECC signer", algorithm="EC", serial="0xECC")
        self.ecc_pkcs12 = self.bundle(ecc, ecc_key)
        # Another CA's certificates with the serials of this one's signers, carried beside them.
        _, impostor = self.certificate("Impostor with the signer's serial", algorithm="EC", issuer=self.stranger_ca,
                                       serial=self.SIGNER_SERIAL)
        _, rsa_impostor = self.certificate("RSA impostor with the ECC signer's serial", issuer=self.stranger_ca,
                                           serial="0xECC")
        self.beside_impostor_pkcs12 = self.bundle(self.cert, chain=(self.intermediate, impostor), name="beside-impostor")
        self.ecc_beside_impostor_pkcs12 = self.bundle(ecc, ecc_key, chain=(self.intermediate, rsa_impostor),
                                                      name="ecc-beside-impostor")
        # Under a revoked intermediate, whose own CRL revokes nothing: carried in the signature, or given with the root.
        self.under_revoked_pkcs12 = self.signer("Signer under a revoked CA", issuer=revoked_intermediate,
                                                chain=(revoked_intermediate,))
        self.under_revoked_alone_pkcs12 = self.bundle(self.under_revoked_pkcs12.with_suffix(".pem"), chain=(),
                                                      name="under-revoked-alone")
        self.root_and_revoked_ca = self.folder / "root-and-revoked-intermediate.pem"
        self.root_and_revoked_ca.write_text(self.ca.read_text() + revoked_intermediate.read_text())
        # A root's name and key identifier on another key, and a signer under an intermediate it made:
        # a chain that only its signatures tell from the real one.
        root_key_identifier = self.openssl("x509", "-noout", "-ext", "subjectKeyIdentifier", "-in", self.ca).split()[-1]
        forger = self.authority("Framelatch test root CA", key_identifier=root_key_identifier.decode(),
                                file="forged-root.pem")
        forged = self.authority("Framelatch test CA", issuer=forger, file="forged-intermediate.pem")
        self.under_forged_pkcs12 = self.signer("Signer under a forged intermediate", issuer=forged, chain=(forged,))
        # Certificates that name no CRL: under the intermediate, which does, and straight under the root.
        self.no_crl_pkcs12 = self.signer("Signer naming no CRL", crl_url="")
        self.no_crl_under_root_pkcs12 = self.signer("Signer under the root naming no CRL", crl_url="", issuer=self.ca,
                                                    chain=())
        # A chain that names no CRL, its intermediate revoked by the root's CRL, which is given.
        quiet = self.authority("Revoked CA naming no CRL", issuer=self.ca, crl_url="")
        self.under_quiet_revoked_pkcs12 = self.signer("Signer under it", crl_url="", issuer=quiet, chain=(quiet,))
        _, self.tsa_cert = self.certificate("Framelatch test TSA", "critical,timeStamping")
        _, self.revoked_tsa_cert = self.certificate("Revoked TSA", "critical,timeStamping")
        _, self.tsa_under_revoked_cert = self.certificate("TSA under a revoked CA", "critical,timeStamping",
                                                          issuer=revoked_intermediate)
        # Each CA's CRL; a CRL in the intermediate's name signed by the forged one's key.
        self.root_crl = self.revocation_list(self.ca, [revoked_intermediate, quiet])
        self.crl = self.revocation_list(self.intermediate, [self.revoked_pkcs12.with_suffix(".pem"),
                                                            self.revoked_tsa_cert])
        self.revoked_intermediate_crl = self.revocation_list(revoked_intermediate, [])
        self.forged_crl = self.revocation_list(forged, [])
        crls = (self.root_crl, self.crl, self.revoked_intermediate_crl, self.revocation_list(quiet, []))
        self.crls = os.pathsep.join(map(str, crls))
        # The same CRLs as one PEM file, as a maintainer may keep them.
        self.crls_pem = self.folder / "crls.pem"
        self.crls_pem.write_text("".join(path.with_suffix(".crl.pem").read_text() for path in crls))
        self.password_file = self.folder / "password"
        self.password_file.write_text(self.PASSWORD + "\n")
        self.password_file.chmod(0o600)
        self.token_env = {}
        (self.folder / "tsa.cnf").write_text("[tsa]\ndefault_tsa = tsa_config\n[tsa_config]\nserial = tsa-serial\n"
                                             "signer_digest = sha256\ndefault_policy = 1.2.3.4.1\ndigests = sha256\n"
                                             "ess_cert_id_alg = sha256\n")
        (self.folder / "tsa-serial").write_text("01\n")
        self.server = TimestampServer(self)

    def openssl(self, *args, given=None):
        """What openssl printed, given `given` on its standard input."""
        return subprocess.run(["openssl", *map(str, args)], check=True, capture_output=True, cwd=self.folder,
                              input=given).stdout

    @staticmethod
    def crl_address(authority):
        return f"{CRL_SITE}{authority.stem}.crl"

    def certificate(self, name, usage="codeSigning", issuer=None, crl_url=None, key=None, algorithm="RSA",
                    serial=None, file=None, key_identifier="hash"):
        """(key, certificate) of `name`: a CA's without `usage` (a root's without `issuer`), else one for
        `usage` by `issuer` (the intermediate CA by default); naming its issuer's CRL, or `crl_url` ("" for none)."""
        issuer = issuer or (self.intermediate if usage else None)
        path = self.folder / (file or f"{name.replace(' ', '-')}.pem")
        key = key or path.with_suffix(".key")
        if not key.exists():
            option = "rsa_keygen_bits:2048" if algorithm == "RSA" else "ec_paramgen_curve:P-256"
            self.openssl("genpkey", "-algorithm", algorithm, "-pkeyopt", option, "-out", key)
        extensions = (["basicConstraints=CA:FALSE", "keyUsage=critical,digitalSignature", f"extendedKeyUsage={usage}"]
                      if usage else ["basicConstraints=critical,CA:TRUE", "keyUsage=critical,keyCertSign,cRLSign",
                                     f"subjectKeyIdentifier={key_identifier}"])
        crl_url = (self.crl_address(issuer) if issuer else "") if crl_url is None else crl_url
        extensions += [f"crlDistributionPoints=URI:{crl_url}"] * bool(crl_url)
        self.openssl("req", "-x509", "-key", key, "-subj", f"/CN={name}", "-days", "30", "-out", path,
                     *(("-CA", issuer, "-CAkey", issuer.with_suffix(".key")) if issuer else ()),
                     *(("-set_serial", serial) if serial else ()), *(a for e in extensions for a in ("-addext", e)))
        return key, path

    def authority(self, name, issuer=None, **options):
        return self.certificate(name, None, issuer, **options)[1]

    def signer(self, name, chain=None, **options):
        """A PKCS#12 file of the signing key with a certificate of its own, made as `options` say."""
        return self.bundle(self.certificate(name, key=self.key, **options)[1], self.key, chain)

    def bundle(self, cert, key=None, chain=None, name=None):
        """A PKCS#12 file of a key and its certificate, with the intermediate CA (or `chain`) beside it."""
        path = self.folder / f"{name or cert.stem}.p12"
        beside = path.with_suffix(".beside.pem")
        beside.write_text("".join(c.read_text() for c in ((self.intermediate,) if chain is None else chain)))
        self.openssl("pkcs12", "-export", "-inkey", key or self.key, "-in", cert,
                     *(("-certfile", beside) if beside.read_text() else ()), "-out", path,
                     "-passout", f"pass:{self.PASSWORD}")
        return path

    def revocation_list(self, authority, revoked):
        """`authority`'s CRL, in DER as a distribution point serves it (and in PEM beside it), revoking `revoked`."""
        stem, config = authority.with_suffix(""), authority.with_suffix(".cnf")
        config.write_text(f"[ca]\ndefault_ca = test\n[test]\ndatabase = {stem}.index\n"
                          f"crlnumber = {stem}.crlnumber\ndefault_md = sha256\ndefault_crl_days = 7\n")
        stem.with_suffix(".index").write_text("")
        stem.with_suffix(".crlnumber").write_text("01\n")
        issuing = ("-config", config, "-cert", authority, "-keyfile", authority.with_suffix(".key"))
        for certificate in revoked:
            self.openssl("ca", *issuing, "-revoke", certificate)
        crl = stem.with_suffix(".crl")
        self.openssl("ca", *issuing, "-gencrl", "-out", crl.with_suffix(".crl.pem"))
        self.openssl("crl", "-in", crl.with_suffix(".crl.pem"), "-outform", "DER", "-out", crl)
        return crl

    def token(self):
        """The signing key in a new SoftHSM token; the environment that reaches it."""
        if not self.token_env:
            (self.folder / "tokens").mkdir()
            config = self.folder / "softhsm2.conf"
            config.write_text(f"directories.tokendir = {self.folder / 'tokens'}\nobjectstore.backend = file\n")
            self.token_env = {"SOFTHSM2_CONF": str(config)}
            for command in (["--init-token", "--free", "--label", "release", "--so-pin", "0000", "--pin", self.PASSWORD],
                            ["--import", str(self.key), "--token", "release", "--label", "signer", "--id", "01",
                             "--pin", self.PASSWORD]):
                subprocess.run(["softhsm2-util", *command], check=True, capture_output=True,
                               env={**os.environ, **self.token_env})
        return self.token_env

    def timestamp_reply(self, query, tsa, chain):
        """An RFC 3161 timestamp for a query, from one of the test CA's timestamp authorities."""
        return self.openssl("ts", "-reply", "-config", self.folder / "tsa.cnf", "-queryfile", "/dev/stdin",
                            "-signer", tsa, "-inkey", tsa.with_suffix(".key"), "-chain", chain, "-out", "/dev/stdout",
                            given=query)

    def env(self, way="pkcs12", cert=None, ca=None, crls=None, password_file=None, timestamp=False):
        """The environment that signs a release in one way, with every CRL of the authority given."""
        env = {"FRAMELATCH_SIGN_CA": str(ca or self.ca), "FRAMELATCH_SIGN_URL": "https://framelatch.example/",
               "FRAMELATCH_SIGN_CRL": self.crls if crls is None else str(crls)}
        if timestamp:
            env |= {"FRAMELATCH_SIGN_TIMESTAMP_URL": self.server.url, "FRAMELATCH_SIGN_TIMESTAMP_CA": str(self.ca)}
        if way != "command":
            env["FRAMELATCH_SIGN_PASSWORD_FILE"] = str(password_file or self.password_file)
        if way == "pkcs12":
            env["FRAMELATCH_SIGN_PKCS12"] = str(cert or self.pkcs12)
        elif way == "pkcs11":
            # The certificate with the intermediate CA after it, as a token's certificate file holds them.
            chain = (cert or self.cert).with_suffix(".chain.pem")
            chain.write_text((cert or self.cert).read_text() + self.intermediate.read_text())
            env |= {**self.token(), "FRAMELATCH_SIGN_PKCS11_MODULE": str(SOFTHSM_MODULE),
                    "FRAMELATCH_SIGN_PKCS11_KEY": "pkcs11:token=release;object=signer;type=private",
                    "FRAMELATCH_SIGN_CERTS": str(chain)}
        return env


class TimestampServer(http.server.ThreadingHTTPServer):
    """The authority's RFC 3161 timestamp server: at /revoked with the revoked
    certificate, at /under-revoked with one under the revoked intermediate."""

    def __init__(self, signer):
        authorities = {"/revoked": (signer.revoked_tsa_cert, signer.intermediate),
                       "/under-revoked": (signer.tsa_under_revoked_cert, signer.revoked_intermediate)}

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                tsa, chain = authorities.get(self.path, (signer.tsa_cert, signer.intermediate))
                reply = signer.timestamp_reply(self.rfile.read(int(self.headers["Content-Length"])), tsa, chain)
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *_):
                pass
        super().__init__(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server_port}/"
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def stop(self):
        self.shutdown()
        self.server_close()


def why_no_signing_tools():
    missing = [tool for tool in ("osslsigncode", "openssl", "softhsm2-util") if not shutil.which(tool)]
    if missing or not SOFTHSM_MODULE.exists():
        return f"{', '.join(missing or [str(SOFTHSM_MODULE)])} not installed (scripts/install-deps.sh installs it)"
    return None  # every tool is there


def signed_program(zip_path, folder):
    """The Framelatch.exe in a release zip, taken out into `folder`."""
    with zipfile.ZipFile(zip_path) as archive:
        return Path(archive.extract("Framelatch.exe", folder))
