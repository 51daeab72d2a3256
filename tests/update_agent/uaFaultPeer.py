#!/usr/bin/env python3
"""A peer that resets its connection part way: an independent client for the
agent's fault tests.

Usage: uaFaultPeer.py HOST PORT STAGE ROUNDS [SIGNATURE FILE WAIT_FOR]

Each round opens a connection, goes as far as STAGE, then resets it (RST,
not FIN). Stages, in the order a session goes through them:
  connect      TCP only
  header-part  5 bytes of the 10-byte "ZUSL" header
  header       the whole header, and the agent's answer and key read
  key-block    the handshake made, nothing sent after it
  mid-frame    half of an encrypted packet
  mid-chunk    the first chunk of a two-chunk Connect request
  mid-upgrade  the first chunk of a 100000-byte Upgrade (FILE, SIGNATURE)
  installer    the whole signed Upgrade of FILE; reset once WAIT_FOR exists
Prints "done ROUNDS" and exits 0 when every round went as far as its stage.
"""
import os
import socket
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "shared", "loam", "net"))
from uaClient import CHUNK, Connection  # noqa: E402
from zuSecureHandshakeClient import header, read_exactly  # noqa: E402


def reset(sock):
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


def upgrade_payload(name, data, signature, size):
    return (bytes([0]) + name.encode() + b"\0" + b"\0" + signature.encode() + b"\0" +
            struct.pack(">I", size) + data)


def one_round(host, port, stage, extra):
    if stage in ("connect", "header-part", "header"):
        sock = socket.create_connection((host, port), timeout=30)
        if stage == "header-part":
            sock.sendall(header([1, 0, 1, 0], 0)[:5])
        elif stage == "header":
            sock.sendall(header([1, 0, 1, 0], 0))
            answer = read_exactly(sock, 10)
            (length,) = struct.unpack(">H", answer[8:10])
            read_exactly(sock, length)
        reset(sock)
        return
    c = Connection(host, port)
    if stage == "mid-frame":
        payload = struct.pack(">HBBH", 1, 2, 11, 0) + b"x" * 100
        frame = b"<" + struct.pack(">I", len(payload)) + payload + b">"
        c.sock.sendall(c.out.update(frame[:50]))
    elif stage == "mid-chunk":
        c.send_packet(struct.pack(">HBBH", 1, 2, 3, 0) + b"x" * 1000)
    elif stage in ("mid-upgrade", "installer"):
        signature, path, wait_for = extra
        with open(path, "rb") as f:
            data = f.read()
        name = os.path.basename(path)
        if stage == "mid-upgrade":
            body = upgrade_payload(name, data, signature, 100000)
            body += b"x" * (CHUNK - len(body))
            c.send_packet(struct.pack(">HBBH", 1, 1, 3, 0) + body)
        else:
            c.send_packet(struct.pack(">HBBH", 1, 1, 11, 0) +
                          upgrade_payload(name, data, signature, len(data)))
            deadline = time.monotonic() + 30
            while not os.path.exists(wait_for):
                if time.monotonic() > deadline:
                    raise TimeoutError("the installer did not start")
                time.sleep(0.01)
    elif stage != "key-block":
        raise ValueError("unknown stage " + stage)
    reset(c.sock)


def main():
    if len(sys.argv) not in (5, 8):
        print(__doc__, file=sys.stderr)
        return 2
    host, port, stage, rounds = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
    for _ in range(rounds):
        one_round(host, port, stage, sys.argv[5:8])
    print("done", rounds)
    return 0


if __name__ == "__main__":
    sys.exit(main())
