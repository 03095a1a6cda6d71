#!/usr/bin/env python3
"""What build_msi.sh needs beyond wixl and msibuild to make a package that is a
function of its inputs alone:
  codes FILE... -- TEXT...   ProductCode and package code (one a line), both
                             derived from the bytes of every FILE and each TEXT
                             (the -D values): the same inputs give the same
                             codes, any change gives new ones
  file-version PROGRAM       the program's own file version (a.b.c.d), as
                             Windows Installer reads it (VS_FIXEDFILEINFO)
  pin-dates PACKAGE EPOCH    sets the summary information's creation and save
                             times, which wixl takes from the clock, to EPOCH
  overwrite-string PACKAGE OLD NEW
                             writes NEW over every copy of OLD (of the same
                             length) in the database's string pool: a string
                             no row uses any more stays in the pool, so the
                             random ProductCode wixl wrote would stay in the
                             package after it was replaced
"""
import hashlib
import struct
import sys
import uuid

# A namespace of our own for the derived codes (uuid5).
CODE_NAMESPACE = uuid.UUID("5b0f6f0e-2f5c-4f6e-9a57-6a3f1d0c8e21")


def codes(arguments):
    split = arguments.index("--") if "--" in arguments else len(arguments)
    digest = hashlib.sha256()
    for path in arguments[:split]:
        with open(path, "rb") as handle:
            data = handle.read()
        # Lengths first, so that no two different lists hash alike.
        digest.update(struct.pack("<Q", len(data)) + data)
    for text in arguments[split + 1:]:
        data = text.encode("utf-8")
        digest.update(struct.pack("<Q", len(data)) + data)
    inputs = digest.hexdigest()
    for kind in ("ProductCode", "PackageCode"):
        print("{%s}" % str(uuid.uuid5(CODE_NAMESPACE, f"{kind}:{inputs}")).upper())


def file_version(path):
    import pefile  # python3-pefile, installed by scripts/bootstrap.sh

    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not fixed:
        sys.exit(f"{path}: no version resource")
    info = fixed[0]
    print("%d.%d.%d.%d" % (info.FileVersionMS >> 16, info.FileVersionMS & 0xFFFF, info.FileVersionLS >> 16,
                           info.FileVersionLS & 0xFFFF))


class CompoundFile:
    """Just enough of the compound file format (an MSI package's container) to
    rewrite one stream in place at the same length."""

    END_OF_CHAIN = 0xFFFFFFFE

    def __init__(self, data):
        self.data = data
        if data[:8] != bytes.fromhex("d0cf11e0a1b11ae1"):
            raise ValueError("not a compound file")
        self.sector_size = 1 << struct.unpack_from("<H", data, 0x1E)[0]
        self.mini_size = 1 << struct.unpack_from("<H", data, 0x20)[0]
        fat_count, first_directory = struct.unpack_from("<II", data, 0x2C)
        self.cutoff, first_mini_fat, mini_fat_count, first_difat, difat_count = struct.unpack_from(
            "<IIIII", data, 0x38)
        difat = list(struct.unpack_from("<109I", data, 0x4C))
        sector = first_difat
        for _ in range(difat_count):
            entries = struct.unpack_from("<%dI" % (self.sector_size // 4), data, self.offset(sector))
            difat += entries[:-1]
            sector = entries[-1]
        self.fat = []
        for sector in difat[:fat_count]:
            self.fat += struct.unpack_from("<%dI" % (self.sector_size // 4), data, self.offset(sector))
        mini_fat_bytes = b"".join(self.sector_bytes(s) for s in self.chain(first_mini_fat))
        self.mini_fat = list(struct.unpack_from("<%dI" % (len(mini_fat_bytes) // 4), mini_fat_bytes))
        directory = b"".join(self.sector_bytes(s) for s in self.chain(first_directory))
        self.entries = {}
        for at in range(0, len(directory), 128):
            name_length = struct.unpack_from("<H", directory, at + 64)[0]
            name = directory[at:at + max(name_length - 2, 0)].decode("utf-16-le")
            start, size = struct.unpack_from("<II", directory, at + 116)
            self.entries.setdefault(name, (start, size))
            if at == 0:
                self.mini_stream_sectors = list(self.chain(start))

    def offset(self, sector):
        return (sector + 1) * self.sector_size

    def sector_bytes(self, sector):
        return self.data[self.offset(sector):self.offset(sector) + self.sector_size]

    def chain(self, sector, table=None):
        table = self.fat if table is None else table
        while sector != self.END_OF_CHAIN:
            yield sector
            sector = table[sector]

    def stream_spans(self, name):
        """(file offset, length) of each piece of the stream, in order."""
        start, size = self.entries[name]
        spans = []
        if size < self.cutoff:
            per_sector = self.sector_size // self.mini_size
            for mini in self.chain(start, self.mini_fat):
                sector = self.mini_stream_sectors[mini // per_sector]
                spans.append((self.offset(sector) + (mini % per_sector) * self.mini_size, self.mini_size))
        else:
            spans = [(self.offset(sector), self.sector_size) for sector in self.chain(start)]
        left, trimmed = size, []
        for at, length in spans:
            trimmed.append((at, min(length, left)))
            left -= trimmed[-1][1]
        return trimmed


# Database streams are stored under names packed two characters to a code unit.
NAME_CHARACTERS = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._"


def stream_name(stored):
    name = ""
    for unit in map(ord, stored):
        if 0x3800 <= unit < 0x4800:
            unit -= 0x3800
            name += NAME_CHARACTERS[unit & 0x3F] + NAME_CHARACTERS[unit >> 6 & 0x3F]
        elif 0x4800 <= unit < 0x4840:
            name += NAME_CHARACTERS[unit - 0x4800]
        elif unit == 0x4840:
            name += "!"  # a table's own stream
        else:
            name += chr(unit)
    return name


def rewrite_stream(path, name_matches, change):
    """Rewrites the stream whose (unpacked) name `name_matches` accepts with
    change(bytearray) -> bytearray of the same length; returns change's result."""
    with open(path, "rb") as handle:
        data = bytearray(handle.read())
    container = CompoundFile(bytes(data))
    stored = [name for name in container.entries if name_matches(stream_name(name))]
    if len(stored) != 1:
        sys.exit(f"{path}: {len(stored)} streams match")
    spans = container.stream_spans(stored[0])
    stream = bytearray(b"".join(bytes(data[at:at + length]) for at, length in spans))
    changed = change(bytearray(stream))
    if len(changed) != len(stream):
        raise ValueError("a stream rewritten in place keeps its length")
    position = 0
    for at, length in spans:
        data[at:at + length] = changed[position:position + length]
        position += length
    with open(path, "wb") as handle:
        handle.write(data)


def overwrite_string(path, old, new):
    old, new = old.encode("utf-8"), new.encode("utf-8")
    if len(old) != len(new):
        sys.exit("overwrite-string: OLD and NEW must be of one length")
    found = []

    def change(pool):
        found.append(pool.count(old))
        return pool.replace(old, new)

    rewrite_stream(path, lambda name: name == "!_StringData", change)
    if found[0] == 0:
        sys.exit(f"{path}: {old.decode()} is not in the string pool")


def pin_dates(path, epoch):
    VT_FILETIME = 64
    CREATED, SAVED, PRINTED = 12, 13, 11
    # FILETIME: 100-nanosecond units since 1601-01-01.
    filetime = (int(epoch) + 11644473600) * 10_000_000
    pinned = []

    def change(stream):
        section = struct.unpack_from("<I", stream, 44)[0]
        count = struct.unpack_from("<I", stream, section + 4)[0]
        for i in range(count):
            pid, at = struct.unpack_from("<II", stream, section + 8 + 8 * i)
            if pid in (CREATED, SAVED, PRINTED) and struct.unpack_from("<I", stream, section + at)[0] == VT_FILETIME:
                struct.pack_into("<Q", stream, section + at + 4, filetime)
                pinned.append(pid)
        return stream

    rewrite_stream(path, lambda name: name == "\x05SummaryInformation", change)
    if CREATED not in pinned:
        sys.exit(f"{path}: no creation date in the summary information")


def main(argv):
    if len(argv) >= 2 and argv[0] == "codes":
        codes(argv[1:])
    elif len(argv) == 2 and argv[0] == "file-version":
        file_version(argv[1])
    elif len(argv) == 3 and argv[0] == "pin-dates":
        pin_dates(argv[1], argv[2])
    elif len(argv) == 4 and argv[0] == "overwrite-string":
        overwrite_string(*argv[1:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
