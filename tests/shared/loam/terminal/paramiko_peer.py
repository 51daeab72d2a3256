"""SSH server (paramiko) on 127.0.0.1 for the SSH client's tests of the
algorithms OpenSSH no longer speaks.

Usage: paramiko_peer.py CIPHER COMPRESSION USER PASSWORD. Prints "PORT <n>"
once it listens. Each connection may run commands on session channels:
  "echo TEXT"  answers TEXT and a line feed;
  "bytes N"    answers N bytes, byte i being (i * 7 + 3) mod 256;
  "count"      reads until EOF and answers the number of bytes read.
Prints "KEX cipher=... compression=..." for each connection once its keys are in use.
"""
import socket
import sys
import threading

import warnings

import paramiko
from cryptography.hazmat.primitives.ciphers import algorithms, modes

warnings.simplefilter("ignore")

cipher, compression, user, password = sys.argv[1:5]

# Neither cipher is among paramiko's own any more; cryptography has both.
paramiko.Transport._cipher_info["cast128-cbc"] = {
    "class": algorithms.CAST5, "mode": modes.CBC, "block-size": 8, "key-size": 16}
paramiko.Transport._cipher_info["blowfish-cbc"] = {
    "class": algorithms.Blowfish, "mode": modes.CBC, "block-size": 8, "key-size": 16}

host_key = paramiko.DSSKey.generate(1024)


class Server(paramiko.ServerInterface):
    def check_auth_password(self, name, given):
        if name == user and given == password:
            return paramiko.AUTH_SUCCESSFUL
        return paramiko.AUTH_FAILED

    def get_allowed_auths(self, name):
        return "password"

    def check_channel_request(self, kind, chanid):
        if kind == "session":
            return paramiko.OPEN_SUCCEEDED
        return paramiko.OPEN_FAILED_ADMINISTRATIVELY_PROHIBITED

    def check_channel_exec_request(self, channel, command):
        threading.Thread(target=run, args=(channel, command.decode()), daemon=True).start()
        return True


def run(channel, command):
    if command.startswith("echo "):
        channel.sendall((command[5:] + "\n").encode())
    elif command.startswith("bytes "):
        n = int(command[6:])
        data = bytes((i * 7 + 3) % 256 for i in range(n))
        channel.sendall(data)
    elif command == "count":
        total = 0
        while True:
            chunk = channel.recv(65536)
            if not chunk:
                break
            total += len(chunk)
        channel.sendall(("%d\n" % total).encode())
    channel.send_exit_status(0)
    # EOF only: this thread starts before paramiko has sent its answer to the
    # exec request, which may not follow a CLOSE.
    channel.shutdown_write()


def serve(sock):
    transport = paramiko.Transport(sock)
    options = transport.get_security_options()
    options.kex = ("diffie-hellman-group1-sha1",)
    options.ciphers = (cipher,)
    options.digests = ("hmac-sha1",)
    options.key_types = ("ssh-dss",)
    if compression == "zlib":
        options.compression = ("zlib",)
        transport.use_compression(True)
    transport.add_server_key(host_key)
    transport.start_server(server=Server())
    channel = transport.accept(20)
    if channel is not None:
        print("KEX cipher=%s compression=%s" % (transport.remote_cipher,
                                                  transport.remote_compression), flush=True)
    while transport.is_active():
        transport.join(1)


listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", 0))
listener.listen(5)
print("PORT %d" % listener.getsockname()[1], flush=True)
while True:
    conn, _ = listener.accept()
    threading.Thread(target=serve, args=(conn,), daemon=True).start()
