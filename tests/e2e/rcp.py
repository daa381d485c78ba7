"""A client of Norvane's remote-control protocol, Python standard library only, written from the
protocol's description on top of linkclient.py (the link handshake and cipher):

    client = rcp.Client.connect(port, b"alice", b"secret")
    client.logon()                         # the engine's first message: 5, 120 or 90
    statuses, early = client.request(80)   # [1, 3], and notifications that came first
    note = client.next_message()           # a notification, its objects in .objects

Frames: a 4-byte little-endian length N (at most 16384), then N bytes of archive image. A
message is untagged: op (2 bytes LE), then three archive strings (length byte below 255, else
FF and a 2-byte length, else FF FF FF and a 4-byte length). Statuses are ops 1-4; the engine
sends notifications (ops 5 and up, some followed by objects, a frame each) between requests.
Also: object images edited and composed, and registry text for the remote-control service and
for users (passwords scrambled).
"""

import socket
import struct

import harness
import linkclient

ACCEPTED, DENIED, COMPLETED, INTERNAL_ERROR = 1, 2, 3, 4
STATUSES = (ACCEPTED, DENIED, COMPLETED, INTERNAL_ERROR)
LOGGED_ON, ALERT, MUST_CHANGE_PASSWORD = 5, 90, 120
MACHINE_CHANGED, SESSION_STARTED, SESSION_STATUS, SESSION_ENDED = 72, 74, 75, 76
REGISTER, CHANGE_PASSWORD = 80, 120
MAX_IMAGE = 16384
# How many objects follow a notification of these codes.
OBJECTS_AFTER = {22: 1, 24: 1, 25: 1, 27: 1, 32: 1, 34: 1, 42: 11, 52: 1, 54: 1, 62: 1, 131: 1}
TIMEOUT = harness.WAIT_TIMEOUT


class ProtocolError(AssertionError):
    """The engine broke the protocol, or closed the connection where a message was due."""


def archive_string(data):
    n = len(data)
    if n < 255:
        return bytes([n]) + data
    if n < 0xFFFE:
        return b"\xff" + struct.pack("<H", n) + data
    return b"\xff\xff\xff" + struct.pack("<I", n) + data


def read_string(data, pos):
    """The archive string at `pos`, and the position after it."""
    n, pos = data[pos], pos + 1
    if n == 0xFF:
        n, pos = struct.unpack_from("<H", data, pos)[0], pos + 2
        if n == 0xFFFF:
            n, pos = struct.unpack_from("<I", data, pos)[0], pos + 4
    if pos + n > len(data):
        raise ProtocolError("image ends early: %r" % data)
    return data[pos:pos + n], pos + n


class Message:
    """Op and three byte strings; `objects` holds the images that followed a notification."""

    def __init__(self, op, arg1=b"", arg2=b"", arg3=b""):
        self.op, self.args, self.objects = op, (arg1, arg2, arg3), []

    def image(self):
        return struct.pack("<H", self.op) + b"".join(archive_string(a) for a in self.args)

    @classmethod
    def parse(cls, image):
        pos, args = 2, []
        for _ in range(3):
            arg, pos = read_string(image, pos)
            args.append(arg)
        return cls(struct.unpack_from("<H", image)[0], *args)

    def __eq__(self, other):
        return (self.op, self.args) == (other.op, other.args)

    def __repr__(self):
        return "Message(%d, %r, %r, %r)" % ((self.op,) + self.args)


class Client:
    """One console connection after a successful handshake."""

    def __init__(self, channel):
        self.channel = channel
        self.sock = channel.sock
        self.sock.settimeout(TIMEOUT)

    @classmethod
    def connect(cls, port, user, password, host="127.0.0.1", source=None):
        return cls(linkclient.connect(host, port, 2, user, password, source=source))

    def close(self):
        self.channel.close()

    def send_raw(self, data):
        self.channel.send(data)

    def send_frame(self, image):
        self.send_raw(struct.pack("<I", len(image)) + image)

    def send_message(self, op, arg1=b"", arg2=b"", arg3=b""):
        self.send_frame(Message(op, arg1, arg2, arg3).image())

    def recv_frame(self):
        """The next image; ProtocolError when the stream ends or breaks the framing."""
        head = self.channel.recv_exact(4)
        if len(head) < 4:
            raise ProtocolError("connection closed where a frame was due")
        size, = struct.unpack("<I", head)
        image = self.channel.recv_exact(size) if size <= MAX_IMAGE else b""
        if len(image) != size:
            raise ProtocolError("frame of %d bytes cut short or too long" % size)
        return image

    def next_message(self):
        message = Message.parse(self.recv_frame())
        if message.op not in STATUSES:
            message.objects = [self.recv_frame() for _ in range(OBJECTS_AFTER.get(message.op, 0))]
        return message

    def logon(self):
        return self.next_message()

    def statuses(self):
        """Reads to the end of one request: ([statuses], [notifications that came first])."""
        statuses, notices = [], []
        while not statuses or statuses[-1] == ACCEPTED:
            message = self.next_message()
            if message.op in STATUSES:
                statuses.append(message.op)
            elif statuses:
                raise ProtocolError("notification %r inside a request" % message)
            else:
                notices.append(message)
        return statuses, notices

    def request(self, op, arg1=b"", arg2=b"", arg3=b""):
        self.send_message(op, arg1, arg2, arg3)
        return self.statuses()

    def transact(self, op, args=(), send=(), receive=0):
        """One request with its payload: the images of `send` go out after status 1, and
        `receive` images are read after it. Returns ([statuses], [images received],
        [notifications that came first])."""
        self.send_message(op, *args)
        notices = []
        status = self.next_message()
        while status.op not in STATUSES:
            notices.append(status)
            status = self.next_message()
        statuses, images = [status.op], []
        if status.op == ACCEPTED:
            for image in send:
                self.send_frame(image)
            images = [self.recv_frame() for _ in range(receive)]
            statuses.append(self.next_message().op)
        return statuses, images, notices

    def wait_for(self, op, *args):
        """The next notification `op` whose leading arguments are `args`; others are passed."""
        return self.collect({op}, 1, args)[0]

    def collect(self, ops, count, args=()):
        """The next `count` notifications with an op in `ops` (and leading arguments `args`);
        others are passed."""
        found = []
        while len(found) < count:
            message = self.next_message()
            if message.op in ops and message.args[:len(args)] == args:
                found.append(message)
        return found

    def notices(self, count):
        found = [self.next_message() for _ in range(count)]
        if any(m.op in STATUSES for m in found):
            raise ProtocolError("a status where notifications were due: %r" % found)
        return found

    def pending(self, quiet=0.5):
        """Every message that arrives until none has come for `quiet` seconds."""
        found = []
        while True:
            self.sock.settimeout(quiet)
            try:
                if not self.sock.recv(1, socket.MSG_PEEK):
                    return found
            except socket.timeout:
                return found
            finally:
                self.sock.settimeout(TIMEOUT)
            found.append(self.next_message())

    def at_end(self, timeout=TIMEOUT):
        """True when the engine closes the connection within `timeout` with nothing more sent."""
        self.sock.settimeout(timeout)
        try:
            return self.sock.recv(1) == b""
        except ConnectionResetError:
            return True
        finally:
            self.sock.settimeout(TIMEOUT)


def connect_refused(port, user, password):
    """The status of a refused handshake, or None when the engine closed without one."""
    try:
        Client.connect(port, user, password).close()
    except linkclient.Refused as refusal:
        return refusal.code
    except (linkclient.LinkError, ConnectionError, socket.timeout):
        return None
    raise ProtocolError("handshake of %r was not refused" % user)


# --- object images ---------------------------------------------------------------------------

def set_fields(image, layout, changes):
    """`image` with the leading fields at the positions in `changes` replaced; `layout` names
    them in order ("s" an archive string, "I" 4 bytes)."""
    out, pos = b"", 0
    for index, kind in enumerate(layout):
        end = read_string(image, pos)[1] if kind == "s" else pos + 4
        value = changes.get(index)
        if value is None:
            out += image[pos:end]
        else:
            out += archive_string(value) if kind == "s" else struct.pack("<I", value)
        pos = end
    return out + image[pos:]


# Leading fields: a service's up to its restart-requested flag (name 0, port 2, restart 14),
# a user's up to AccountEnabled (30), the cache settings' up to CacheOptions (1).
SERVICE, USER, CACHE = "ssIIsIIIIIsIIII", "ssss" + "I" * 27, "sI"


def untag(image):
    """(class name, record) of an object that opens with its class record."""
    length, = struct.unpack_from("<H", image, 4)
    return image[6:6 + length], image[6 + length:]


def tagged(objects, keys=None):
    """The map form (count, then each key and its object) or, without keys, the list form of
    objects given as (class name, record), for records that hold no object reference
    themselves: a class record where a class first appears, 0x8000 + its entry after; class
    records and objects count entries from 1."""
    out, classes, entries = struct.pack("<H", len(objects)), {}, 0
    for n, (name, record) in enumerate(objects):
        out += archive_string(keys[n]) if keys else b""
        if name in classes:
            out += struct.pack("<H", 0x8000 | classes[name])
        else:
            entries += 1
            classes[name] = entries
            out += struct.pack("<HHH", 0xFFFF, 1, len(name)) + name
        entries += 1
        out += record
    return out


# --- configuration --------------------------------------------------------------------------

ROOT = r"HKEY_LOCAL_MACHINE\SOFTWARE\Urvo Software\Norvane 2"


def scrambled(password):
    """The stored form of a password: byte i XOR (2i + 2) mod 256."""
    return bytes(b ^ ((2 * i + 2) & 0xFF) for i, b in enumerate(password))


def hex_string(data):
    """A REG_SZ value written as its bytes (hex(1)), so that any byte is kept."""
    return "hex(1):" + ",".join("%02x" % b for b in data + b"\0")


def service_reg(port, logs):
    """The remote-control service on `port`; service logs and audit files in `logs`."""
    return ('[%s\\Settings]\n"LogFileDirectory"="%s"\n"AuditDirectory"="%s"\n\n'
            '[%s\\Services\\Remote Control Service]\n"ServiceType"="CRemoteControlService"\n'
            '"Name"="Remote Control Service"\n"Description"="Remote Control Service"\n'
            '"PortNumber"=dword:%08x\n\n') % (ROOT, logs, logs, ROOT, port)


def user_reg(name, password, must_change=False, cannot_change=False, administrator=False,
             audited=False):
    """A user account; with `administrator` also a member of "Administrators"; with `audited`
    every audit event written."""
    text = ('[%s\\UserDatabase\\%s]\n"Type"="User"\n"Name"="%s"\n"Password"=%s\n'
            '"UserMustChangePassword"=dword:%08x\n"UserCannotChangePassword"=dword:%08x\n'
            '"AuditUser"=dword:%08x\n"AuditOptions"=dword:000003ff\n\n') % (
        ROOT, name, name, hex_string(scrambled(password)), must_change, cannot_change, audited)
    if administrator:
        text += ('[%s\\UserDatabase\\Administrators]\n"Type"="Group"\n"Name"="Administrators"\n\n'
                 '[%s\\UserDatabase\\Administrators\\Members]\n"Administrator"=dword:00000000\n'
                 '"%s"=dword:00000000\n\n') % (ROOT, ROOT, name)
    return text
