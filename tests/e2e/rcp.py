"""A client of Norvane's remote-control protocol, Python standard library only.

Written from the protocol's description, on top of linkclient.py (the link handshake and its
cipher), so that end-to-end tests, and the console's tests, can talk to a real engine:

    client = rcp.Client.connect(port, b"Administrator", b"")
    first = client.logon()                       # the engine's first message: 5, 120 or 90
    statuses, early = client.request(80)         # [1, 3], notifications that came first
    note = client.next_message()                 # a notification, with .objects after it

Wire summary (after the handshake every byte is enciphered):
  frame     4-byte little-endian length N (at most 16384), then N bytes: an archive image
  message   untagged: op (2 bytes LE), then three archive strings
  string    length prefix (1 byte below 255; FF + 2 bytes below 0xFFFE; FF FF FF + 4 bytes),
            then the bytes
  request   console sends a message; the engine answers 1 (accepted) or 2 (denied), then after
            1 the payload and 3 (completed), or 4 (internal error) when the request failed
  notices   between requests; ops 5 and up; some are followed by objects, one frame each

Also: registry text for test users (passwords stored scrambled) and for the remote-control
service on a port of the test's own.
"""

import socket
import struct

import linkclient

# Reply statuses.
ACCEPTED, DENIED, COMPLETED, INTERNAL_ERROR = 1, 2, 3, 4
STATUSES = (ACCEPTED, DENIED, COMPLETED, INTERNAL_ERROR)

# Notifications.
LOGGED_ON = 5
MUST_CHANGE_PASSWORD = 120
ALERT = 90
MACHINE_ADDED, MACHINE_CHANGED, MACHINE_REMOVED = 71, 72, 73
SESSION_STARTED, SESSION_STATUS, SESSION_ENDED = 74, 75, 76

# Requests used by the tests.
REGISTER = 80
CHANGE_PASSWORD = 120

MAX_IMAGE = 16384
# Objects (one frame each) that follow a notification of these codes.
OBJECTS_AFTER = {22: 1, 24: 1, 25: 1, 27: 1, 32: 1, 34: 1, 42: 11, 52: 1, 54: 1, 62: 1,
                 131: 1}

TIMEOUT = 20.0
MESSAGE_CLASS = b"CNVRCPMessage"


class ProtocolError(AssertionError):
    """The engine broke the protocol, or closed the connection where a message was due."""


# --- archive images -------------------------------------------------------------------------

def archive_string(data):
    n = len(data)
    if n < 255:
        prefix = bytes([n])
    elif n < 0xFFFE:
        prefix = b"\xff" + struct.pack("<H", n)
    else:
        prefix = b"\xff\xff\xff" + struct.pack("<I", n)
    return prefix + data


def read_archive_string(image, pos):
    """(bytes, next position); ProtocolError when the image ends inside the string."""
    def take(count):
        if pos + count > len(image):
            raise ProtocolError("image ends inside a string: %r" % image)
        return image[pos:pos + count]
    n = take(1)[0]
    pos += 1
    if n == 0xFF:
        n, = struct.unpack("<H", take(2))
        pos += 2
        if n == 0xFFFF:
            n, = struct.unpack("<I", take(4))
            pos += 4
    data = take(n)
    return data, pos + n


class Message:
    """A protocol message: op and three byte strings; `objects` holds the images of the
    objects that followed a notification."""

    def __init__(self, op, arg1=b"", arg2=b"", arg3=b""):
        self.op, self.args = op, (arg1, arg2, arg3)
        self.objects = []

    def image(self):
        return struct.pack("<H", self.op) + b"".join(archive_string(a) for a in self.args)

    @classmethod
    def parse(cls, image):
        if len(image) < 2:
            raise ProtocolError("message image too short: %r" % image)
        op, = struct.unpack("<H", image[:2])
        pos, args = 2, []
        for _ in range(3):
            arg, pos = read_archive_string(image, pos)
            args.append(arg)
        return cls(op, *args)

    def __eq__(self, other):
        return (self.op, self.args) == (other.op, other.args)

    def __repr__(self):
        return "Message(%d, %r, %r, %r)" % ((self.op,) + self.args)


def tagged_image(class_name, fields):
    """The image of a new object of `class_name` (schema 1) with its fields' bytes."""
    return b"\xff\xff\x01\x00" + struct.pack("<H", len(class_name)) + class_name + fields


def frame(image):
    return struct.pack("<I", len(image)) + image


# --- the client -----------------------------------------------------------------------------

class Client:
    """One console connection after a successful handshake."""

    def __init__(self, channel):
        self.channel = channel
        self.channel.sock.settimeout(TIMEOUT)

    @classmethod
    def connect(cls, port, user, password, host="127.0.0.1", **handshake):
        return cls(linkclient.connect(host, port, 2, user, password, **handshake))

    def close(self):
        self.channel.close()

    # frames

    def send_raw(self, data):
        self.channel.send(data)

    def send_frame(self, image):
        self.send_raw(frame(image))

    def send_message(self, op, arg1=b"", arg2=b"", arg3=b""):
        self.send_frame(Message(op, arg1, arg2, arg3).image())

    def recv_frame(self):
        """The next image; None when the engine closed the connection between frames."""
        head = self.channel.recv_exact(4)
        if not head:
            return None
        if len(head) < 4:
            raise ProtocolError("connection closed inside a length word")
        size, = struct.unpack("<I", head)
        if size > MAX_IMAGE:
            raise ProtocolError("frame of %d bytes" % size)
        image = self.channel.recv_exact(size)
        if len(image) < size:
            raise ProtocolError("connection closed inside a frame")
        return image

    def next_message(self):
        """The next message, with the objects that follow a notification; ProtocolError at
        the end of the stream."""
        image = self.recv_frame()
        if image is None:
            raise ProtocolError("connection closed where a message was due")
        message = Message.parse(image)
        if message.op not in STATUSES:
            for _ in range(OBJECTS_AFTER.get(message.op, 0)):
                obj = self.recv_frame()
                if obj is None:
                    raise ProtocolError("connection closed before the objects of %r" % message)
                message.objects.append(obj)
        return message

    def at_end(self, timeout=TIMEOUT):
        """True when the engine closes the connection (end of stream or reset) within
        `timeout` seconds with nothing more to read; False when a byte arrives first."""
        self.channel.sock.settimeout(timeout)
        try:
            return self.channel.sock.recv(1) == b""
        except ConnectionResetError:
            return True
        finally:
            self.channel.sock.settimeout(TIMEOUT)

    # the protocol

    def logon(self):
        """The engine's first message after the handshake."""
        return self.next_message()

    def statuses(self):
        """Reads up to the end of one request: ([statuses], [notifications that came first]).
        Stops after 2, 3 or 4."""
        statuses, notices = [], []
        while True:
            message = self.next_message()
            if message.op not in STATUSES:
                if statuses:
                    raise ProtocolError("notification %r inside a request" % message)
                notices.append(message)
                continue
            statuses.append(message.op)
            if message.op != ACCEPTED:
                return statuses, notices

    def request(self, op, arg1=b"", arg2=b"", arg3=b""):
        self.send_message(op, arg1, arg2, arg3)
        return self.statuses()

    def pending(self, quiet=0.5):
        """Every message that arrives until none has come for `quiet` seconds."""
        found = []
        self.channel.sock.settimeout(quiet)
        try:
            while True:
                try:
                    head = self.channel.sock.recv(1, socket.MSG_PEEK)
                except socket.timeout:
                    return found
                if not head:
                    return found
                self.channel.sock.settimeout(TIMEOUT)
                found.append(self.next_message())
                self.channel.sock.settimeout(quiet)
        finally:
            self.channel.sock.settimeout(TIMEOUT)

    def notices(self, count):
        """The next `count` notifications."""
        found = [self.next_message() for _ in range(count)]
        for message in found:
            if message.op in STATUSES:
                raise ProtocolError("status %r where a notification was due" % message)
        return found


def connect_refused(port, user, password, **handshake):
    """The status code of a refused handshake (linkclient.Refused), or None when the engine
    closed without a status."""
    try:
        client = Client.connect(port, user, password, **handshake)
    except linkclient.Refused as refusal:
        return refusal.code
    except (linkclient.LinkError, ConnectionError, socket.timeout):
        return None
    client.close()
    raise ProtocolError("handshake of %r was not refused" % user)


# --- configuration --------------------------------------------------------------------------

ROOT = r"HKEY_LOCAL_MACHINE\SOFTWARE\Urvo Software\Norvane 2"


def scrambled(password):
    """The stored form of a password: byte i XOR (2i + 2) mod 256."""
    return bytes(b ^ ((2 * i + 2) & 0xFF) for i, b in enumerate(password))


def hex_string(data):
    """A REG_SZ value given as its bytes (hex(1)), so any byte is kept."""
    return "hex(1):" + ",".join("%02x" % b for b in data + b"\0")


def service_reg(port, logs=None, extra=""):
    """The remote-control service on `port`, with `extra` values; service logs and audit files
    in the folder `logs`, when given."""
    text = ""
    if logs:
        text += "[%s\\Settings]\n\"LogFileDirectory\"=\"%s\"\n\"AuditDirectory\"=\"%s\"\n\n" % (
            ROOT, logs, logs)
    text += ("[%s\\Services\\Remote Control Service]\n\"ServiceType\"=\"CRemoteControlService\"\n"
             "\"Name\"=\"Remote Control Service\"\n\"Description\"=\"Remote Control Service\"\n"
             "\"PortNumber\"=dword:%08x\n%s\n") % (ROOT, port, extra)
    return text


def user_reg(name, password, must_change=False, cannot_change=False, administrator=False,
             audited=False):
    """A user account; with `administrator`, also a member of "Administrators"."""
    text = ("[%s\\UserDatabase\\%s]\n\"Type\"=\"User\"\n\"Name\"=\"%s\"\n\"Password\"=%s\n"
            "\"UserMustChangePassword\"=dword:%08x\n\"UserCannotChangePassword\"=dword:%08x\n"
            ) % (ROOT, name, name, hex_string(scrambled(password)), must_change, cannot_change)
    if audited:
        text += "\"AuditUser\"=dword:00000001\n\"AuditOptions\"=dword:000003ff\n"
    text += "\n"
    if administrator:
        text += ("[%s\\UserDatabase\\Administrators]\n\"Type\"=\"Group\"\n"
                 "\"Name\"=\"Administrators\"\n\n[%s\\UserDatabase\\Administrators\\Members]\n"
                 "\"Administrator\"=dword:00000000\n\"%s\"=dword:00000000\n\n") % (ROOT, ROOT, name)
    return text
