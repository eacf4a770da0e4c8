#!/usr/bin/env python3
"""Checks a macOS program (thin or universal Mach-O) without a Mac, for scripts/check-packages.sh.

  macho_check.py signature FILE           every slice that carries a code signature is recomputed:
                                          each page's SHA-256 against its code directory; prints
                                          one line per slice, "ARCH adhoc N pages" or "ARCH none"
  macho_check.py undefined FILE TBD       every symbol a slice takes from outside is exported for
                                          its processor by the text stub TBD (zig's libSystem.tbd);
                                          prints the ones that are not, and fails on any

Only the Python standard library: it runs wherever the release is built.
"""
import hashlib
import re
import struct
import sys

FAT_MAGIC = 0xCAFEBABE
MH_MAGIC_64 = 0xFEEDFACF
CPU_NAMES = {0x01000007: "x86_64", 0x0100000C: "arm64"}
LC_SYMTAB = 0x2
LC_CODE_SIGNATURE = 0x1D
CSMAGIC_EMBEDDED_SIGNATURE = 0xFADE0CC0
CSMAGIC_CODEDIRECTORY = 0xFADE0C02
CS_ADHOC = 0x2
HASHES = {1: hashlib.sha1, 2: hashlib.sha256}
N_TYPE, N_EXT, N_UNDF = 0x0E, 0x01, 0x0


def fail(message):
    sys.exit(f"macho_check: {message}")


def slices(data):
    """(processor name, bytes) of each slice: one for a thin file."""
    (magic,) = struct.unpack_from(">I", data)
    if magic == FAT_MAGIC:
        (count,) = struct.unpack_from(">I", data, 4)
        found = []
        for i in range(count):
            cpu, _, offset, size, _ = struct.unpack_from(">iiIII", data, 8 + 20 * i)
            found.append((CPU_NAMES.get(cpu & 0xFFFFFFFF, hex(cpu)), data[offset:offset + size]))
        return found
    (magic, cpu) = struct.unpack_from("<Ii", data)
    if magic != MH_MAGIC_64:
        fail("not a 64-bit Mach-O file")
    return [(CPU_NAMES.get(cpu & 0xFFFFFFFF, hex(cpu)), data)]


def load_commands(thin):
    """(command, offset of the command) for each load command of a thin 64-bit file."""
    ncmds, _ = struct.unpack_from("<II", thin, 16)
    at = 32
    for _ in range(ncmds):
        cmd, size = struct.unpack_from("<II", thin, at)
        yield cmd & 0x7FFFFFFF, at
        at += size


def signature(arch, thin):
    """Recomputes the code directory's page hashes; returns a line that says what was found."""
    found = [at for cmd, at in load_commands(thin) if cmd == LC_CODE_SIGNATURE]
    if not found:
        return f"{arch} none"
    dataoff, datasize = struct.unpack_from("<II", thin, found[0] + 8)
    blob = thin[dataoff:dataoff + datasize]
    magic, _, count = struct.unpack_from(">III", blob)
    if magic != CSMAGIC_EMBEDDED_SIGNATURE:
        fail(f"{arch}: the signature is no embedded signature")
    directories = []
    for i in range(count):
        _, offset = struct.unpack_from(">II", blob, 12 + 8 * i)
        if struct.unpack_from(">I", blob, offset)[0] == CSMAGIC_CODEDIRECTORY:
            directories.append(offset)
    if not directories:
        fail(f"{arch}: the signature has no code directory")
    pages = 0
    for at in directories:
        (_, _, _, flags, hash_offset, _, special_slots, code_slots, code_limit, hash_size,
         hash_type, _, page_log2) = struct.unpack_from(">IIIIIIIIIBBBB", blob, at)
        if hash_type not in HASHES or HASHES[hash_type]().digest_size != hash_size:
            fail(f"{arch}: unknown hash type {hash_type}")
        if code_limit > dataoff:
            fail(f"{arch}: the signed range runs into the signature")
        page = 1 << page_log2
        if code_slots != (code_limit + page - 1) // page:
            fail(f"{arch}: {code_slots} hashes for {code_limit} bytes")
        for slot in range(code_slots):
            want = blob[at + hash_offset + slot * hash_size:at + hash_offset + (slot + 1) * hash_size]
            start = slot * page
            got = HASHES[hash_type](thin[start:min(start + page, code_limit)]).digest()
            if got != want:
                fail(f"{arch}: page {slot} (bytes {start}...) does not match its hash")
        # Special slots hash the signature's other blobs; an ad-hoc signature made by the linker
        # has none that can be checked here without them.
        if special_slots and not flags & CS_ADHOC:
            fail(f"{arch}: signed with an identity, which cannot be checked here")
        pages = max(pages, code_slots)
        kind = "adhoc" if flags & CS_ADHOC else "identity"
    return f"{arch} {kind} {pages} pages"


def undefined_symbols(thin):
    for cmd, at in load_commands(thin):
        if cmd != LC_SYMTAB:
            continue
        symoff, nsyms, stroff, _ = struct.unpack_from("<IIII", thin, at + 8)
        for i in range(nsyms):
            strx, n_type, _, _, _ = struct.unpack_from("<IBBHQ", thin, symoff + 16 * i)
            if n_type & N_EXT and n_type & N_TYPE == N_UNDF:
                end = thin.index(b"\0", stroff + strx)
                yield thin[stroff + strx:end].decode()


def tbd_exports(text, arch):
    """Symbols that the text stub exports (also re-exports) for arch-macos, from every document."""
    target = f"{arch}-macos"
    names = set()
    sections = re.split(r"^(?:exports|reexports):\s*$", text, flags=re.M)
    for section in sections[1:]:
        section = re.split(r"^\S", section, maxsplit=1, flags=re.M)[0]  # up to the next top key
        for entry in re.split(r"^\s*- targets:", section, flags=re.M)[1:]:
            targets = entry[:entry.index("]")]
            if not re.search(rf"[\[\s,]{re.escape(target)}[\s,]", targets + " "):
                continue
            for key, body in re.findall(r"([a-z-]+):\s*\[(.*?)\]", entry[entry.index("]") + 1:],
                                        flags=re.S):
                if key in ("symbols", "weak-symbols", "thread-local-symbols"):
                    names.update(n.strip().strip("'") for n in body.split(",") if n.strip())
    return names


def main(argv):
    if len(argv) == 3 and argv[1] == "signature":
        with open(argv[2], "rb") as file:
            for arch, thin in slices(file.read()):
                print(signature(arch, thin))
    elif len(argv) == 4 and argv[1] == "undefined":
        with open(argv[2], "rb") as file:
            data = file.read()
        with open(argv[3], encoding="utf-8") as file:
            text = file.read()
        missing = []
        for arch, thin in slices(data):
            exported = tbd_exports(text, arch)
            wanted = sorted(set(undefined_symbols(thin)))
            missing += [f"{arch} {name}" for name in wanted if name not in exported]
            print(f"{arch} {len(wanted)} undefined symbols")
        if missing:
            fail("not exported by the system:\n" + "\n".join(missing))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
