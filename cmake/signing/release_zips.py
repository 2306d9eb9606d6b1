"""SHA256SUMS of a release, and whether the other build's zip belongs in it:
of this version, the same files as this zip, only its program other, and that
program of the other machine type and signed as this one is. A signature
checked only when it was made may be revoked since, or made for another
authority, so it is checked again."""
import hashlib
import sys
import tempfile
import zipfile
from pathlib import Path

from signing.pe import MACHINES, machine, signature
from signing.tools import SigningFailed
from signing.verification import verify

PROGRAM = "Framelatch.exe"
PROGRAM_MAX_BYTES = 4 * 2**20       # the program is tens of KiB; a signature adds a few


def members(archive):
    """Each member's bytes; the program's read no further than its bound."""
    found = {}
    for info in archive.infolist():
        with archive.open(info) as member:
            found[info.filename] = member.read(PROGRAM_MAX_BYTES + 1)
    return found


def why_not(this_zip, other_zip):
    """The test the other zip fails, or None where it belongs."""
    try:
        with zipfile.ZipFile(this_zip) as this_archive, zipfile.ZipFile(other_zip) as other_archive:
            this, other = members(this_archive), members(other_archive)
    except (OSError, zipfile.BadZipFile) as error:
        return f"it cannot be read as a zip ({error})"
    if sorted(this) != sorted(other):
        return f"its files ({', '.join(sorted(other))}) are not this zip's ({', '.join(sorted(this))})"
    if changed := [name for name in this if name != PROGRAM and this[name] != other[name]]:
        return f"its {', '.join(changed)} differ from this zip's"
    if len(other[PROGRAM]) > PROGRAM_MAX_BYTES:
        return f"its {PROGRAM} is larger than {PROGRAM_MAX_BYTES // 2**20} MiB"
    if machine(other[PROGRAM]) not in set(MACHINES.values()) - {machine(this[PROGRAM])}:
        return f"its {PROGRAM} is not for the other machine ({machine(other[PROGRAM]) or 'no PE file'})"
    signed = bool(signature(other[PROGRAM]))
    if signed != bool(signature(this[PROGRAM])):
        return f"its {PROGRAM} is {'' if signed else 'not '}signed, unlike this build's"
    if not signed:
        return None
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder, PROGRAM)
        path.write_bytes(other[PROGRAM])
        try:
            verify(path)
        except SigningFailed as failure:
            return f"its signature does not verify now: {failure}"
    return None


def write_sums(this_zip, pattern):
    """Writes SHA256SUMS beside this zip, for it and each zip of `pattern` there
    that belongs to its release; removes any other, to be made again."""
    this_zip, listed = Path(this_zip), []
    for package in sorted(this_zip.parent.glob(pattern)):
        if package.name != this_zip.name and (why := why_not(this_zip, package)):
            print(f"sign-program: warning: removed {package.name}, which is no part of this release: {why}",
                  file=sys.stderr)
            package.unlink()
        else:
            listed.append(f"{hashlib.sha256(package.read_bytes()).hexdigest()}  {package.name}\n")
    (this_zip.parent / "SHA256SUMS").write_text("".join(listed))
