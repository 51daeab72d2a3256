#!/usr/bin/env python3
"""A peer that stops reading: an independent client for the agent's tests.

Usage: uaSlowReader.py HOST PORT WAIT_SECONDS

With the smallest socket buffers, it makes an unencrypted "ZUSL" session,
sends Connect requests and never reads a reply, until its sends no longer
go out. Then it holds the connection, still without reading, until the
agent closes it or WAIT_SECONDS pass. Prints one line:
  closed REQUESTS MILLISECONDS   the agent closed that long after the last
                                 requests went out
  open REQUESTS                  it did not within the wait
"""
import os
import select
import socket
import struct
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "shared", "loam", "net"))
from zuSecureHandshakeClient import MAGIC, header, read_exactly  # noqa: E402

BATCH = 1000


def connect_request(msg_id):
    payload = struct.pack(">HBBH", msg_id, 2, 11, 0)
    return b"<" + struct.pack(">I", len(payload)) + payload + b">"


def main():
    host, port, wait = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4096)
    sock.settimeout(10)
    sock.connect((host, port))
    sock.sendall(header([1, 0, 0, 0], 0))
    answer = read_exactly(sock, 10)
    if answer[:4] != MAGIC or answer[6]:
        raise ValueError("expected a session in clear")

    sent = 0
    last = time.monotonic()
    sock.settimeout(2)
    try:
        while sent < 10000000:
            batch = b"".join(connect_request((sent + i) % 30000 + 1) for i in range(BATCH))
            sock.sendall(batch)
            sent += BATCH
            last = time.monotonic()
    except (socket.timeout, OSError):
        pass

    poller = select.poll()
    poller.register(sock, select.POLLRDHUP | select.POLLHUP | select.POLLERR)
    if poller.poll(int(wait * 1000)):
        print("closed %d %d" % (sent, int((time.monotonic() - last) * 1000)))
    else:
        print("open %d" % sent)
    sock.close()


if __name__ == "__main__":
    main()
