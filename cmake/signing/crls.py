"""Each certificate's revocation on a chain, by openssl against the CRLs the
maintainer gives: every certificate below the root needs its issuer's CRL,
unless none on the chain names one and none is given."""
import re

from signing.tools import SigningFailed, openssl

OPENSSL_ERRORS = {
    "3": "no CRL of {issuer} is given, which {role} certificate {subject} needs",
    "8": "the CRL of {issuer} is not signed by its issuer's key",
    "12": "the CRL of {issuer} has expired: fetch a current one",
    "23": "the certificate {subject} is revoked (by the CRL of {issuer})",
}


def check_revocation(role, leaf, roots, certificates, crls, failure):
    """Fails where a certificate of `leaf`'s chain is revoked or needs a CRL not
    given; `failure` is osslsigncode's, where it did not verify the signature."""
    pool = leaf.path.with_name("pool.pem")
    pool.write_text("".join(certificate.pem for certificate in certificates))
    status, output = openssl("verify", "-show_chain", "-nameopt", "RFC2253", "-CAfile", roots, "-untrusted", pool,
                             leaf.path)
    if status != 0:
        raise SigningFailed(failure or f"openssl does not verify the chain of {role} certificate, which "
                                       "osslsigncode did, so its revocation cannot be checked")
    chain = re.findall(r"^depth=\d+: (.*?)(?: \(untrusted\))?$", output, re.M)
    addresses = {subject: [a for c in certificates if c.names[0] == subject for a in c.names[1]] for subject in chain}
    if not crls and not any(addresses.values()):
        print(f"sign-program: note: {role} chain names no CRL and none is given: its revocation is not checked")
        return
    status, output = openssl("verify", "-crl_check_all", "-CAfile", roots, "-untrusted", pool,
                             *(("-CRLfile", crls) if crls else ()), leaf.path)
    if status != 0:
        code, depth, said = re.search(r"^error (\d+) at (\d+) depth lookup: (.*)$", output, re.M).groups()
        subject, issuer = chain[int(depth)], chain[min(int(depth) + 1, len(chain) - 1)]
        failure = OPENSSL_ERRORS.get(code, "the revocation of {subject} cannot be checked: openssl says \"{said}\"")
        if code == "3":
            failure += (f": fetch it from {addresses[subject][0]} and name the file in FRAMELATCH_SIGN_CRL"
                        if addresses[subject] else ": give it in FRAMELATCH_SIGN_CRL")
        raise SigningFailed(failure.format(role=role, subject=subject, issuer=issuer, said=said))
    print(f"sign-program: {role}: no certificate of its chain is revoked")
