#!/usr/bin/env python3
"""An independent ZUSL client, written from the wire format alone.

Usage: zuSecureHandshakeClient.py HOST PORT ENCRYPT COMPRESS MESSAGE

Offers the given encrypt and compress bytes, completes the handshake the
server answers with, sends MESSAGE (in the same segment as the wrapped key
block when encrypting) and reads the server's reply until it closes.
Prints one line: the server's option bytes 4 to 7 and the reply, as JSON.
"""
import json
import os
import socket
import struct
import sys

from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import padding
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.serialization import load_der_public_key

try:  # newer releases keep CFB apart from the recommended modes
    from cryptography.hazmat.decrepit.ciphers.modes import CFB
except ImportError:
    CFB = modes.CFB

MAGIC = b"ZUSL"


def read_exactly(sock, n):
    data = b""
    while len(data) < n:
        piece = sock.recv(n - len(data))
        if not piece:
            raise EOFError("closed after %d of %d bytes" % (len(data), n))
        data += piece
    return data


def header(options, length):
    return MAGIC + bytes(options) + struct.pack(">H", length)


def main():
    host, port, encrypt, compress, message = sys.argv[1:6]
    message = message.encode()
    with socket.create_connection((host, int(port)), timeout=10) as sock:
        sock.sendall(header([1, 0, int(encrypt), int(compress)], 0))
        answer = read_exactly(sock, 10)
        if answer[:4] != MAGIC:
            raise ValueError("bad magic %r" % answer[:4])
        options = list(answer[4:8])
        (length,) = struct.unpack(">H", answer[8:10])

        encryptor = decryptor = None
        if options[2]:
            key_text = read_exactly(sock, length).decode("ascii")
            public_key = load_der_public_key(bytes.fromhex(key_text))
            block = os.urandom(64)
            wrapped = public_key.encrypt(
                block,
                padding.OAEP(mgf=padding.MGF1(algorithm=hashes.SHA1()),
                             algorithm=hashes.SHA1(), label=None))
            aes = algorithms.AES(block[32:48])
            encryptor = Cipher(aes, CFB(block[0:16])).encryptor()
            decryptor = Cipher(aes, CFB(block[0:16])).decryptor()
            # Header, key block and the first data in one segment.
            sock.sendall(header(options, len(wrapped)) + wrapped +
                         encryptor.update(message))
        else:
            sock.sendall(message)

        reply = b""
        while True:
            piece = sock.recv(65536)
            if not piece:
                break
            reply += decryptor.update(piece) if decryptor else piece
    print(json.dumps({"options": options, "reply": reply.decode("latin-1")}))


if __name__ == "__main__":
    main()
