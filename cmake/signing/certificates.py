"""What openssl says of the certificates and CRLs around a signature: the
certificates the signature carries (its timestamp's among them) and those of
the given files, each with its names, serial, key and CRL addresses; and the
CRLs the maintainer gives."""
import functools
import os
import re
from pathlib import Path

from signing import pe
from signing.tools import SigningFailed, openssl

TIMESTAMP_TOKEN = "1.3.6.1.4.1.311.3.3.1"      # an RFC 3161 timestamp, as Authenticode carries it
PEM_BLOCK = r"-----BEGIN {0}-----.+?-----END {0}-----\n?"


class Certificate:
    """One certificate; openssl is asked about it only when something needs to know."""

    def __init__(self, pem, folder, number):
        self.pem, self.path = pem, folder / f"certificate-{number}.pem"
        self.path.write_text(pem)

    @functools.cached_property
    def names(self):
        _, text = openssl("x509", "-noout", "-nameopt", "RFC2253", "-subject", "-ext", "crlDistributionPoints",
                          "-in", self.path)
        return re.search(r"^subject=(.*)$", text, re.M).group(1), re.findall(r"URI:(\S+)", text)

    @functools.cached_property
    def signer_id(self):
        """(issuer, serial) as osslsigncode names a signer: the issuer in the one-line form, the serial in hex."""
        _, text = openssl("x509", "-noout", "-issuer", "-serial", "-nameopt", "compat", "-in", self.path)
        issuer, serial = re.search(r"^issuer=(.*)\nserial=(\w+)", text, re.M).groups()
        return issuer, int(serial, 16)

    def key_algorithm(self):
        _, text = openssl("x509", "-noout", "-text", "-in", self.path)
        return re.search(r"Public Key Algorithm: (\S+)", text).group(1)


def pem_blocks(text, kind):
    return re.findall(PEM_BLOCK.format(kind), text, re.S)


def carried(signed_file, folder):
    """PEM text of the certificates the signature carries, and its RFC 3161 timestamp's."""
    signature, der = folder / "signature.der", pe.signature(Path(signed_file).read_bytes())
    signature.write_bytes(der)
    texts = [openssl("pkcs7", "-inform", "DER", "-print_certs", "-in", signature)[1]]
    _, structure = openssl("asn1parse", "-inform", "DER", "-in", signature)
    # The timestamp is a signature of its own, two lines below its object identifier.
    lines = structure.splitlines()
    for number, line in enumerate(lines):
        if line.endswith(":" + TIMESTAMP_TOKEN) and number + 2 < len(lines):
            offset, header, length = map(int, re.match(r"\s*(\d+):d=\d+\s+hl=(\d+)\s+l=\s*(\d+)",
                                                       lines[number + 2]).groups())
            token = folder / f"timestamp-{offset}.der"
            token.write_bytes(der[offset:offset + header + length])
            texts.append(openssl("pkcs7", "-inform", "DER", "-print_certs", "-in", token)[1])
    return "".join(texts)


def read_certificates(signed_file, files, folder):
    """The certificates the signature carries, then those of `files`, each once."""
    blocks = pem_blocks(carried(signed_file, folder), "CERTIFICATE")
    carried_count = len(blocks)
    for name in files:
        try:
            blocks += pem_blocks(Path(name).read_text(errors="replace"), "CERTIFICATE")
        except OSError as error:
            raise SigningFailed(f"{name} cannot be read: {error.strerror}") from None
    certificates = [Certificate(pem, folder, number) for number, pem in enumerate(blocks)]
    return certificates[:carried_count], certificates


def given_crls(folder):
    """The CRLs of FRAMELATCH_SIGN_CRL (files separated by ':', each PEM or DER)
    as one PEM file; None without any."""
    blocks = []
    for name in filter(None, os.environ.get("FRAMELATCH_SIGN_CRL", "").split(os.pathsep)):
        _, text = openssl("storeutl", "-crls", name)
        if not (found := pem_blocks(text, "X509 CRL")):
            raise SigningFailed(f"FRAMELATCH_SIGN_CRL: {name} holds no CRL that openssl can read")
        blocks += found
    if not blocks:
        return None
    (folder / "crls.pem").write_text("".join(blocks))
    return folder / "crls.pem"
