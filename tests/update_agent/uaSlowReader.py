#!/usr/bin/env python3
"""A peer that stops reading: an independent client for the agent's tests.

Usage: uaSlowReader.py HOST PORT WAIT_SECONDS

With the smallest socket buffers, it makes an unencrypted "ZUSL" session,
sends Connect requests and never reads a reply. Whenever the agent takes more
bytes it sends more, so an agent that was only slow for a while (a loaded
machine) is pushed on until its replies fill the buffers; once nothing goes
out it holds the connection, still without reading, until the agent closes
it or WAIT_SECONDS pass with no byte taken. Prints one line:
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
    sock.setblocking(False)
    poller = select.poll()
    closed_flags = select.POLLRDHUP | select.POLLHUP | select.POLLERR
    poller.register(sock, closed_flags | select.POLLOUT)
    pending = b""
    while True:
        if not pending and sent < 10000000:
            pending = b"".join(connect_request((sent + i) % 30000 + 1) for i in range(BATCH))
        left_ms = int((last + wait - time.monotonic()) * 1000)
        if left_ms <= 0:
            print("open %d" % sent)
            break
        poller.modify(sock, closed_flags | (select.POLLOUT if pending else 0))
        events = poller.poll(left_ms)
        flags = events[0][1] if events else 0
        if flags & closed_flags:
            print("closed %d %d" % (sent, int((time.monotonic() - last) * 1000)))
            break
        if flags & select.POLLOUT and pending:
            try:
                n = sock.send(pending)
            except BlockingIOError:
                continue
            except OSError:
                # Reset by the agent: it let the connection go.
                print("closed %d %d" % (sent, int((time.monotonic() - last) * 1000)))
                break
            pending = pending[n:]
            last = time.monotonic()
            if not pending:
                sent += BATCH
    sock.close()


if __name__ == "__main__":
    main()
