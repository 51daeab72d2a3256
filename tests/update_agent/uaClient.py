#!/usr/bin/env python3
"""A small independent client of the agent, written from the wire format.

Usage:
  uaClient.py connect HOST PORT
  uaClient.py upgrade HOST PORT KIND FILE ARGUMENT SIGNATURE

Makes the "ZUSL" handshake (encrypted, no compression), sends one request
(Connect, type 2, or Upgrade, type 1, with FILE's bytes) in chunks of at most
30000 bytes and prints the reply's status code, then its text when it
carries an error message; a refused connection prints its code (1030 when
the agent is at its connection limit). Exits 0 when the reply came, 1 when
the connection closed without one.
"""
import os
import socket
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "shared", "loam", "net"))
from zuSecureHandshakeClient import (CFB, MAGIC, Cipher, algorithms, hashes,  # noqa: E402
                                     header, load_der_public_key, padding,
                                     read_exactly)

CHUNK = 30000


class Connection:
    def __init__(self, host, port):
        self.sock = socket.create_connection((host, port), timeout=30)
        self.sock.sendall(header([1, 0, 1, 0], 0))
        answer = read_exactly(self.sock, 10)
        if answer[:4] != MAGIC or not answer[6]:
            raise ValueError("no encrypted session offered")
        (length,) = struct.unpack(">H", answer[8:10])
        key = load_der_public_key(bytes.fromhex(read_exactly(self.sock, length).decode()))
        block = os.urandom(64)
        wrapped = key.encrypt(block, padding.OAEP(mgf=padding.MGF1(algorithm=hashes.SHA1()),
                                                  algorithm=hashes.SHA1(), label=None))
        aes = algorithms.AES(block[32:48])
        self.out = Cipher(aes, CFB(block[0:16])).encryptor()
        self.into = Cipher(aes, CFB(block[0:16])).decryptor()
        self.sock.sendall(header(list(answer[4:8]), len(wrapped)) + wrapped)

    def send_packet(self, payload):
        frame = b"<" + struct.pack(">I", len(payload)) + payload + b">"
        self.sock.sendall(self.out.update(frame))

    def read(self, n):
        return self.into.update(read_exactly(self.sock, n))

    def receive_packet(self):
        head = self.read(5)
        if head[0:1] != b"<":
            raise ValueError("unexpected frame %r" % head[0:1])
        (length,) = struct.unpack(">I", head[1:5])
        body = self.read(length + 1)
        return body[:-1]

    def request(self, msg_id, msg_type, payload):
        chunks = [payload[i:i + CHUNK] for i in range(0, len(payload), CHUNK)] or [b""]
        for n, chunk in enumerate(chunks):
            flags = 1 | (2 if n == 0 else 0) | (8 if n == len(chunks) - 1 else 0)
            self.send_packet(struct.pack(">HBBH", msg_id, msg_type, flags, 0) + chunk)
        while True:
            packet = self.receive_packet()
            got_id, got_type, flags, error = struct.unpack(">HBBH", packet[:6])
            if got_type == 5:
                return error, packet[6:]  # the connection refused (1030 at the limit)
            if got_type == 0 or got_id != msg_id:
                continue  # keep-alives
            if error or flags & 8:
                return error, packet[6:]


def error_text(body):
    """The text of a serialised error message with its parameters filled in."""
    if len(body) < 8:
        return ""
    (text_id,) = struct.unpack(">I", body[4:8])
    if text_id != 0xFFFF:
        return ""
    end = body.index(b"\0", 8)
    text = body[8:end].decode("latin-1")
    at = end + 1
    (count,) = struct.unpack(">I", body[at:at + 4])
    at += 4
    values = {}
    for _ in range(count):
        key = chr(body[at])
        end = body.index(b"\0", at + 1)
        values[key] = body[at + 1:end].decode("latin-1")
        at = end + 1
    for key in sorted(values):
        text = text.replace("$" + key, values[key])
    return text


def main():
    if len(sys.argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    command, host, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
    if command == "connect":
        payload, msg_type = b"", 2
    elif command == "upgrade" and len(sys.argv) == 8:
        kind, path, argument, signature = sys.argv[4:8]
        with open(path, "rb") as f:
            data = f.read()
        payload = (bytes([int(kind)]) + os.path.basename(path).encode() + b"\0" +
                   argument.encode() + b"\0" + signature.encode() + b"\0" +
                   struct.pack(">I", len(data)) + data)
        msg_type = 1
    else:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        connection = Connection(host, port)
        error, body = connection.request(1, msg_type, payload)
    except (EOFError, ConnectionError) as e:
        print("connection closed by the agent without a reply (%s)" % type(e).__name__,
              file=sys.stderr)
        return 1
    print(error)
    if error:
        print(error_text(body))
    return 0


if __name__ == "__main__":
    sys.exit(main())
