"""Reads the web cache's index file ("cache.idx"): records back to back, no header, each the
archive form of one entry: URL, file name (strings), last checked, last modified (4-byte
unsigned seconds since 1970), content type (string), size, hits (4-byte unsigned). All numbers
little-endian. A string is a length prefix (one byte below 0xFF; else 0xFF and a 2-byte length
below 0xFFFE; else 0xFF, 0xFFFF and a 4-byte length) and that many bytes."""

import struct
from collections import namedtuple

Record = namedtuple("Record", "url file_name last_checked last_modified content_type size hits")


class DamagedIndex(ValueError):
    pass


class _Reader:
    def __init__(self, data):
        self.data = data
        self.pos = 0

    def take(self, count):
        if self.pos + count > len(self.data):
            raise DamagedIndex("record cut short at byte %d" % self.pos)
        piece = self.data[self.pos:self.pos + count]
        self.pos += count
        return piece

    def number(self, fmt):
        return struct.unpack("<" + fmt, self.take(struct.calcsize(fmt)))[0]

    def string(self):
        n = self.number("B")
        if n == 0xFF:
            n = self.number("H")
            if n == 0xFFFE:
                raise DamagedIndex("wide string at byte %d" % self.pos)
            if n == 0xFFFF:
                n = self.number("I")
        return self.take(n)


def decode(data, torn_tail=False):
    """The records of an index file's bytes; DamagedIndex when they do not end cleanly, or,
    with torn_tail, the records before the damage (as the engine reads an index)."""
    reader = _Reader(bytes(data))
    records = []
    while reader.pos < len(reader.data):
        try:
            url, name = reader.string(), reader.string()
            checked, modified = reader.number("I"), reader.number("I")
            content_type = reader.string()
            size, hits = reader.number("I"), reader.number("I")
        except DamagedIndex:
            if torn_tail:
                break
            raise
        records.append(Record(url, name, checked, modified, content_type, size, hits))
    return records


def encode(record):
    """The bytes of one record (short strings only), for writing test indexes."""
    def string(text):
        assert len(text) < 0xFF
        return bytes([len(text)]) + text
    return (string(record.url) + string(record.file_name)
            + struct.pack("<II", record.last_checked, record.last_modified)
            + string(record.content_type) + struct.pack("<II", record.size, record.hits))


def read(path, torn_tail=False):
    with open(path, "rb") as f:
        return decode(f.read(), torn_tail)
