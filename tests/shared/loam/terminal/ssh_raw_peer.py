"""A hostile SSH server on 127.0.0.1 written with plain sockets, for the SSH
client's failure tests: nothing of it comes from the library under test.

Usage: ssh_raw_peer.py MODE [LIST]. Prints "PORT <n>" once it listens, takes
one connection and misbehaves by MODE:
  kexinit LIST  identification and a KEXINIT whose LIST (kex, hostkey,
                cipher, mac or compression) holds nothing the client speaks;
                with a third word "forged" that list is 4 KB long and holds a
                line break and the start of a log line;
  length        identification, then a packet length of 0xFFFFFFFF;
  longline      an identification line of 300 bytes;
  lines         1025 lines before the identification.
Then it reads the client's packets (no keys are ever in force here, so they
are plain) and prints "DISCONNECT <reason> <description>" for the client's
DISCONNECT, or "NO DISCONNECT <why>" when the connection ends without one.
"""
import os
import socket
import struct
import sys

GOOD = {
    "kex": "diffie-hellman-group1-sha1",
    "hostkey": "ssh-dss",
    "cipher": "aes256-cbc",
    "mac": "hmac-sha1",
    "compression": "none",
}
BAD = {
    "kex": "curve25519-sha256,diffie-hellman-group14-sha256",
    "hostkey": "ssh-ed25519,rsa-sha2-512",
    "cipher": "aes128-ctr,chacha20-poly1305@openssh.com",
    "mac": "hmac-sha2-256,umac-64@openssh.com",
    "compression": "zlib@openssh.com",
}


def string(data):
    return struct.pack(">I", len(data)) + data


def packet(payload):
    padding = 8 - (5 + len(payload)) % 8
    if padding < 4:
        padding += 8
    return struct.pack(">IB", 1 + len(payload) + padding, padding) + payload + bytes(padding)


def kexinit(bad, forged):
    names = dict(GOOD)
    names[bad] = BAD[bad]
    if forged:
        names[bad] += "\r\n12:00:00 SSH host key accepted," + "a" * 4000
    lists = [names["kex"], names["hostkey"], names["cipher"], names["cipher"], names["mac"],
             names["mac"], names["compression"], names["compression"], "", ""]
    payload = bytes([20]) + os.urandom(16) + b"".join(string(n.encode()) for n in lists)
    return packet(payload + b"\x00" + struct.pack(">I", 0))


def read_exactly(conn, n):
    data = b""
    while len(data) < n:
        piece = conn.recv(n - len(data))
        if not piece:
            return None
        data += piece
    return data


def report(conn):
    line = b""
    while not line.endswith(b"\n"):
        byte = conn.recv(1)
        if not byte:
            return "NO DISCONNECT no identification"
        line += byte
        if len(line) > 255:
            return "NO DISCONNECT identification too long"
    while True:
        head = read_exactly(conn, 5)
        if head is None:
            return "NO DISCONNECT connection closed"
        length, padding = struct.unpack(">IB", head)
        if length > 0x20000 or length < padding + 1:
            return "NO DISCONNECT bad packet"
        body = read_exactly(conn, length - 1)
        if body is None:
            return "NO DISCONNECT connection closed in a packet"
        payload = body[:len(body) - padding]
        if payload[:1] == b"\x01":
            reason = struct.unpack(">I", payload[1:5])[0]
            size = struct.unpack(">I", payload[5:9])[0]
            return "DISCONNECT %d %s" % (reason, payload[9:9 + size].decode("utf-8", "replace"))


def main():
    mode = sys.argv[1]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    listener.settimeout(60)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    conn, _ = listener.accept()
    conn.settimeout(30)
    if mode == "kexinit":
        conn.sendall(b"SSH-2.0-hostile\r\n" + kexinit(sys.argv[2], sys.argv[3:] == ["forged"]))
    elif mode == "length":
        conn.sendall(b"SSH-2.0-hostile\r\n" + b"\xff\xff\xff\xff" + bytes(12))
    elif mode == "longline":
        conn.sendall(b"SSH-2.0-" + b"x" * 300 + b"\r\n")
    elif mode == "lines":
        conn.sendall(b"not yet\r\n" * 1025 + b"SSH-2.0-hostile\r\n")
    try:
        result = report(conn)
    except socket.timeout:
        result = "NO DISCONNECT time-out"
    except OSError as e:
        result = "NO DISCONNECT " + str(e)
    print(result, flush=True)


main()
