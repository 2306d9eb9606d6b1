"""What the signing step reads of a PE file itself: its machine type and its
certificate table, where Authenticode keeps the signature."""

MACHINES = {0x14C: "32-bit x86", 0x8664: "x86-64"}


def header(program):
    """The offset of the PE signature, or None where the bytes are no PE file."""
    pe = int.from_bytes(program[0x3C:0x40], "little")
    return pe if program[:2] == b"MZ" and program[pe:pe + 4] == b"PE\0\0" else None


def machine(program):
    pe = header(program)
    return None if pe is None else MACHINES.get(int.from_bytes(program[pe + 4:pe + 6], "little"))


def signature(program):
    """The PKCS#7 signature in the certificate table (data directory 4), or b"" without one."""
    pe = header(program)
    if pe is None:
        return b""
    optional = pe + 24
    entry = optional + (144 if program[optional:optional + 2] == b"\x0b\x02" else 128)
    start, size = (int.from_bytes(program[at:at + 4], "little") for at in (entry, entry + 4))
    return program[start + 8:start + size] if size > 8 else b""     # past the WIN_CERTIFICATE header
