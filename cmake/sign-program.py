#!/usr/bin/env python3
"""Signs a release's Framelatch.exe with Authenticode (SHA-256) and proves the
signature, or fails in one line: a release is signed whole or not at all.

    sign-program.py sign FILE              sign FILE in place where the environment asks for it
    sign-program.py sums THIS.zip PATTERN  write SHA256SUMS beside THIS.zip for it and the zips
                                           of PATTERN there that belong to its release, and
                                           remove the others, saying which test each fails

The environment names the way, the roots, the CRLs and the password file
(docs/signing.md). Nothing is fetched but the timestamp osslsigncode asks
for. An unsigned release needs Python's standard library alone."""
import os
import sys
from pathlib import Path

sys.dont_write_bytecode = True      # nothing written beside the sources
from signing.release_zips import write_sums
from signing.tools import SigningFailed
from signing.verification import verify
from signing.ways import chosen_way, sign


def sign_release_program(path):
    if not (way := chosen_way()):
        return False
    if not os.environ.get("FRAMELATCH_SIGN_CA"):
        raise SigningFailed("FRAMELATCH_SIGN_CA must name the root certificates the signature is to verify against")
    sign(path, way)
    verify(path)
    return True


def main():
    usage = __doc__.split("\n\n")[1]
    if len(sys.argv) < 2 or (sys.argv[1], len(sys.argv)) not in (("sign", 3), ("sums", 4)):
        sys.exit(usage)
    try:
        if sys.argv[1] == "sums":
            write_sums(*sys.argv[2:])
        elif sign_release_program(Path(sys.argv[2])):
            print(f"sign-program: {Path(sys.argv[2]).name} signed, and its signature verifies")
    except SigningFailed as failure:
        sys.exit(f"sign-program: {failure}")
    except Exception as error:   # a fault here still fails closed, in one line
        sys.exit(f"sign-program: the signing step failed unexpectedly ({type(error).__name__}: {error})")


if __name__ == "__main__":
    main()
