"""An independent peer for Norvane's link handshake and link cipher.

Written with Python's standard library only, from the protocol's description, so that it can
check our C++ halves from the outside. It plays either side:

  client: read the challenge, answer with link type, local port, user name and response, read
          the status; then encipher everything.
  server: send a challenge, check the answer against a user table, send a status.

Wire summary (every frame is a length byte L and L bytes; 1, 3 are the version bytes):
  challenge  1 3 0 1 <decimal challenge> NUL
  answer     1 3 <link type> <port, 4 bytes little-endian> 2 <user> NUL <response> NUL
  status     1 3 0 <code>                     code 4 = success, 105..109 refusals
  response   = MD5(challenge + password) as lower-case hex with each byte's leading zero
               dropped (0x0a -> "a", 0x00 -> "0")
  keys       client->server MD5(challenge + user + password),
             server->client MD5(challenge + password + user)
  cipher     RC4 schedule and output, but the permutation starts as S[n] = 255 - n

Run as a script it logs on to a link server and exchanges one message:
  linkclient.py HOST PORT USER PASSWORD [TYPE] [MESSAGE]
"""

import hashlib
import socket
import struct
import sys

import harness

VERSION = b"\x01\x03"
STATUS_OK = 4
# How long either half waits for the other's frame of the handshake.
FRAME_TIMEOUT = harness.WAIT_TIMEOUT


class LinkError(Exception):
    """The peer broke the protocol (no frame, short frame, or a frame that makes no sense)."""


class Refused(Exception):
    """The server answered with a status other than success."""

    def __init__(self, code):
        super().__init__("refused with status %d" % code)
        self.code = code


# --- cipher ---------------------------------------------------------------------------------

class Keystream:
    def __init__(self, key):
        if len(key) != 16:
            raise ValueError("link keys are 16-byte digests")
        state = list(range(255, -1, -1))
        j = 0
        for n in range(256):
            j = (j + state[n] + key[n % 16]) & 0xFF
            state[n], state[j] = state[j], state[n]
        self._s = state
        self._i = 0
        self._j = 0

    def crypt(self, data):
        s, i, j = self._s, self._i, self._j
        out = bytearray(len(data))
        for n, byte in enumerate(data):
            i = (i + 1) & 0xFF
            j = (j + s[i]) & 0xFF
            s[i], s[j] = s[j], s[i]
            out[n] = byte ^ s[(s[i] + s[j]) & 0xFF]
        self._i, self._j = i, j
        return bytes(out)


def md5(*parts):
    return hashlib.md5(b"".join(parts)).digest()


def short_hex(digest):
    return "".join(format(b, "x") for b in digest).encode("ascii")


def response_for(challenge, password):
    return short_hex(md5(challenge, password))


# --- frames ---------------------------------------------------------------------------------

def frame(body):
    if len(body) > 255:
        raise ValueError("frame body longer than 255 bytes")
    return bytes([len(body)]) + body


def challenge_frame(challenge, version=VERSION, command=1, slot=0):
    return frame(version + bytes([slot, command]) + challenge + b"\0")


def answer_frame(link_type, port, user, response, version=VERSION, command=2):
    return frame(version + bytes([link_type]) + struct.pack("<I", port) + bytes([command]) +
                 user + b"\0" + response + b"\0")


def status_frame(code, version=VERSION):
    return frame(version + bytes([0, code]))


def recv_exact(sock, count):
    """Up to `count` bytes: fewer only when the peer closed."""
    data = b""
    while len(data) < count:
        piece = sock.recv(count - len(data))
        if not piece:
            break
        data += piece
    return data


def read_frame(sock):
    """A frame's body; None when the peer closed before the length byte; LinkError when the
    body is short."""
    head = recv_exact(sock, 1)
    if not head:
        return None
    body = recv_exact(sock, head[0])
    if len(body) < head[0]:
        raise LinkError("short frame: %d of %d bytes" % (len(body), head[0]))
    return body


def parse_challenge(body):
    if body is None:
        raise LinkError("no challenge")
    if len(body) < 5 or body[:2] != VERSION or body[3] != 1 or b"\0" not in body[4:]:
        raise LinkError("bad challenge %r" % body)
    return body[4:body.index(b"\0", 4)]


def parse_answer(body):
    """(link type, version bytes, port, command, user, response), or LinkError."""
    if body is None or len(body) < 10:
        raise LinkError("bad answer %r" % body)
    port, = struct.unpack("<I", body[3:7])
    rest = body[8:]
    parts = rest.split(b"\0")
    if len(parts) < 3:
        raise LinkError("answer without its NULs")
    return body[2], body[:2], port, body[7], parts[0], parts[1]


# --- enciphered channel ---------------------------------------------------------------------

class Channel:
    """A socket after a successful handshake: both directions enciphered."""

    def __init__(self, sock, send_key, recv_key):
        self.sock = sock
        self._out = Keystream(send_key)
        self._in = Keystream(recv_key)

    def send(self, data):
        self.sock.sendall(self._out.crypt(data))

    def recv_exact(self, count):
        return self._in.crypt(recv_exact(self.sock, count))

    def send_message(self, payload):
        """A message as the test peer frames it: 4-byte little-endian length, then payload."""
        self.send(struct.pack("<I", len(payload)) + payload)

    def recv_message(self):
        head = self.recv_exact(4)
        if len(head) < 4:
            raise LinkError("connection closed before a message")
        size, = struct.unpack("<I", head)
        payload = self.recv_exact(size)
        if len(payload) < size:
            raise LinkError("connection closed inside a message")
        return payload

    def close(self):
        self.sock.close()


# --- client half ----------------------------------------------------------------------------

def client_handshake(sock, link_type, user, password, response=None, version=VERSION,
                     command=2, port=None):
    """Runs the client half on a connected socket and returns the Channel. `response`,
    `version` and `command` replace what a correct client sends."""
    sock.settimeout(FRAME_TIMEOUT)
    challenge = parse_challenge(read_frame(sock))
    if response is None:
        response = response_for(challenge, password)
    if port is None:
        port = sock.getsockname()[1]
    sock.sendall(answer_frame(link_type, port, user, response, version, command))
    body = read_frame(sock)
    if body is None or len(body) < 4:
        raise LinkError("no status")
    if body[:2] != VERSION:
        raise LinkError("bad status version %r" % body)
    if body[3] != STATUS_OK:
        raise Refused(body[3])
    sock.settimeout(None)
    return Channel(sock, md5(challenge, user, password), md5(challenge, password, user))


def connect(host, port, link_type, user, password, source=None, **options):
    """`source`: the loopback address to connect from (another client machine)."""
    sock = socket.create_connection((host, port), timeout=FRAME_TIMEOUT,
                                    source_address=(source, 0) if source else None)
    try:
        return client_handshake(sock, link_type, user, password, **options)
    except BaseException:
        sock.close()
        raise


# --- server half ----------------------------------------------------------------------------

def server_handshake(sock, link_type, users, challenge=b"2864434397"):
    """Runs the server half on an accepted socket; `users` maps user names to passwords.
    Returns (Channel, user) or raises Refused(code) after sending that status."""
    sock.settimeout(FRAME_TIMEOUT)
    sock.sendall(challenge_frame(challenge))
    their_type, version, _port, command, user, response = parse_answer(read_frame(sock))
    if their_type != link_type and not (link_type == 2 and their_type == 3):
        sock.sendall(status_frame(109))
        raise Refused(109)
    if version != VERSION or command != 2:
        raise LinkError("bad answer header")
    if user not in users:
        sock.sendall(status_frame(107))
        raise Refused(107)
    password = users[user]
    if response != response_for(challenge, password):
        sock.sendall(status_frame(108))
        raise Refused(108)
    sock.sendall(status_frame(STATUS_OK))
    sock.settimeout(None)
    return Channel(sock, md5(challenge, password, user), md5(challenge, user, password)), user


def main(argv):
    if len(argv) < 5:
        print(__doc__.strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    host, port, user, password = argv[1], int(argv[2]), argv[3].encode(), argv[4].encode()
    link_type = int(argv[5]) if len(argv) > 5 else 2
    message = argv[6].encode() if len(argv) > 6 else b"hello"
    try:
        channel = connect(host, port, link_type, user, password)
    except Refused as refusal:
        print("refused: status %d" % refusal.code)
        return 1
    channel.send_message(message)
    print("reply: %r" % channel.recv_message())
    channel.close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
