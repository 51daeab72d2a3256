"""A hostile SSH server (paramiko) on 127.0.0.1 for the SSH client's tests of
what a server may do once the session runs.

Usage: paramiko_hostile_peer.py USER PASSWORD. Prints "PORT <n>" once it
listens and "KEY MD5:<fingerprint>" of its host key. Each connection may:
  open a shell   closed by the server as soon as the first bytes typed into
                 it arrive ("SHELL CLOSED <bytes>");
  exec "count"   reads until EOF and answers the number of bytes read;
  exec "rekey"   on the first byte sent to it, the server takes another host
                 key and starts a new key exchange ("REKEY WITH ANOTHER KEY");
  exec "overrun" one data packet of 130500 bytes, past the client's window;
  exec "badzlib" on the first byte sent to it, a packet whose compressed
                 payload is no zlib data.
Compression is "zlib" on every connection.
Every DISCONNECT the server receives is printed as "DISCONNECT <code> <text>".
"""
import logging
import socket
import sys
import threading
import warnings

import paramiko

warnings.simplefilter("ignore")

user, password = sys.argv[1:3]
first_key = paramiko.DSSKey.generate(1024)
other_key = paramiko.DSSKey.generate(1024)


class DisconnectRecord(logging.Handler):
    def emit(self, record):
        text = record.getMessage()
        if text.startswith("Disconnect (code "):
            code, _, description = text[len("Disconnect (code "):].partition("): ")
            print("DISCONNECT %s %s" % (code, description), flush=True)


logging.getLogger("paramiko").addHandler(DisconnectRecord())
logging.getLogger("paramiko").setLevel(logging.INFO)


class Server(paramiko.ServerInterface):
    def __init__(self, transport):
        self.transport = transport

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

    def check_channel_pty_request(self, *args):
        return True

    def check_channel_shell_request(self, channel):
        threading.Thread(target=close_shell, args=(channel,), daemon=True).start()
        return True

    def check_channel_exec_request(self, channel, command):
        threading.Thread(target=run, args=(self.transport, channel, command.decode()),
                         daemon=True).start()
        return True


# The threads below act only on bytes the client sends after its request:
# paramiko handles packets in order, so by then its answer to the request
# has gone out.
def close_shell(channel):
    typed = channel.recv(1024)
    channel.close()
    print("SHELL CLOSED %r" % typed, flush=True)


def run(transport, channel, command):
    if command == "count":
        total = 0
        while True:
            chunk = channel.recv(65536)
            if not chunk:
                break
            total += len(chunk)
        channel.sendall(("%d\n" % total).encode())
        channel.send_exit_status(0)
        channel.shutdown_write()
    elif command == "rekey":
        channel.recv(1)
        transport.add_server_key(other_key)
        print("REKEY WITH ANOTHER KEY", flush=True)
        try:
            transport.renegotiate_keys()
        except paramiko.SSHException:
            pass
    elif command == "overrun":
        # Ignore the window and maximum packet the client announced.
        channel.out_window_size = 1 << 30
        channel.out_max_packet_size = 130500 + 64
        channel.send(b"x" * 130500)
    elif command == "badzlib":
        channel.recv(1)
        # A final block of the reserved type 3: no inflater takes it.
        transport.packetizer._Packetizer__compress_engine_out = lambda data: b"\x07\x00\x00\x00"
        channel.send(b"x")


def serve(sock):
    transport = paramiko.Transport(sock)
    options = transport.get_security_options()
    options.kex = ("diffie-hellman-group1-sha1",)
    options.ciphers = ("aes256-cbc",)
    options.digests = ("hmac-sha1",)
    options.key_types = ("ssh-dss",)
    options.compression = ("zlib",)
    transport.use_compression(True)
    transport.add_server_key(first_key)
    transport.start_server(server=Server(transport))
    while transport.is_active():
        transport.join(1)


listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", 0))
listener.listen(5)
print("PORT %d" % listener.getsockname()[1], flush=True)
print("KEY MD5:%s" % ":".join("%02x" % b for b in first_key.get_fingerprint()), flush=True)
while True:
    conn, _ = listener.accept()
    threading.Thread(target=serve, args=(conn,), daemon=True).start()
