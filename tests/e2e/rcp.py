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
Also: registry text for the remote-control service and for users (passwords scrambled).
"""

import socket
import struct

import linkclient

ACCEPTED, DENIED, COMPLETED, INTERNAL_ERROR = 1, 2, 3, 4
STATUSES = (ACCEPTED, DENIED, COMPLETED, INTERNAL_ERROR)
LOGGED_ON, ALERT, MUST_CHANGE_PASSWORD = 5, 90, 120
MACHINE_CHANGED, SESSION_STARTED, SESSION_STATUS, SESSION_ENDED = 72, 74, 75, 76
REGISTER, CHANGE_PASSWORD = 80, 120
MAX_IMAGE = 16384
# How many objects follow a notification of these codes.
OBJECTS_AFTER = {22: 1, 24: 1, 25: 1, 27: 1, 32: 1, 34: 1, 42: 11, 52: 1, 54: 1, 62: 1, 131: 1}
TIMEOUT = 20.0


class ProtocolError(AssertionError):
    """The engine broke the protocol, or closed the connection where a message was due."""


def archive_string(data):
    n = len(data)
    if n < 255:
        return bytes([n]) + data
    if n < 0xFFFE:
        return b"\xff" + struct.pack("<H", n) + data
    return b"\xff\xff\xff" + struct.pack("<I", n) + data


class Message:
    """Op and three byte strings; `objects` holds the images that followed a notification."""

    def __init__(self, op, arg1=b"", arg2=b"", arg3=b""):
        self.op, self.args, self.objects = op, (arg1, arg2, arg3), []

    def image(self):
        return struct.pack("<H", self.op) + b"".join(archive_string(a) for a in self.args)

    @classmethod
    def parse(cls, image):
        def take(pos, count):
            if pos + count > len(image):
                raise ProtocolError("message image ends early: %r" % image)
            return image[pos:pos + count], pos + count
        head, pos = take(0, 2)
        args = []
        for _ in range(3):
            (n,), pos = take(pos, 1)
            if n == 0xFF:
                (n,), pos = struct.unpack("<H", take(pos, 2)[0]), pos + 2
                if n == 0xFFFF:
                    (n,), pos = struct.unpack("<I", take(pos, 4)[0]), pos + 4
            arg, pos = take(pos, n)
            args.append(arg)
        return cls(struct.unpack("<H", head)[0], *args)

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
    def connect(cls, port, user, password, host="127.0.0.1"):
        return cls(linkclient.connect(host, port, 2, user, password))

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
