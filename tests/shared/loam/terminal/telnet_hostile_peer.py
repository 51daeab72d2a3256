"""A hostile telnet server on 127.0.0.1, raw sockets, for the telnet client's tests.

Usage: telnet_hostile_peer.py MODE. Prints "PORT <n>" once it listens, serves
one connection, then "DONE <what happened>" when it stops sending.

MODE "trickle": IAC SB 24 (a subnegotiation that never ends), then one byte
every 200 ms, for at most 30 s.
MODE "flood": IAC SB 24, then 4 MiB of subnegotiation bytes as fast as the
client takes them, then holds the connection open for at most 30 s.
"""
import socket
import sys
import time

IAC, SB, TERMINAL_TYPE = 255, 250, 24
BOUND = 30.0


def trickle(conn):
    conn.sendall(bytes([IAC, SB, TERMINAL_TYPE]))
    end = time.monotonic() + BOUND
    sent = 0
    while time.monotonic() < end:
        conn.sendall(b"x")
        sent += 1
        time.sleep(0.2)
    return "trickle sent %d bytes" % sent


def flood(conn):
    conn.sendall(bytes([IAC, SB, TERMINAL_TYPE]))
    block = b"x" * 65536
    sent = 0
    for _ in range(64):
        conn.sendall(block)
        sent += len(block)
    # Held open, silent: the client must have ended on its own by now.
    conn.settimeout(BOUND)
    try:
        conn.recv(1)
    except socket.timeout:
        pass
    return "flood sent %d bytes" % sent


def main():
    mode = {"trickle": trickle, "flood": flood}[sys.argv[1]]
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    server.settimeout(BOUND)
    print("PORT %d" % server.getsockname()[1], flush=True)
    conn, _ = server.accept()
    try:
        what = mode(conn)
    except OSError as error:
        # The client closed: what it read was enough for it.
        what = "client closed: %s" % error.strerror
    print("DONE " + what, flush=True)
    conn.close()


main()
