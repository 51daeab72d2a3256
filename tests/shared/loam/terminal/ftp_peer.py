"""FTP server (pyftpdlib) on 127.0.0.1 for the line-protocol client's tests.

Usage: ftp_peer.py HOME USER PASSWORD. Prints "PORT <n>" once it listens.
"""
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

home, user, password = sys.argv[1:4]
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, home, perm="elr")
FTPHandler.authorizer = authorizer
FTPHandler.banner = "tarnwell test peer ready."
logging.basicConfig(level=logging.ERROR)
server = FTPServer(("127.0.0.1", 0), FTPHandler)
print("PORT %d" % server.socket.getsockname()[1], flush=True)
server.serve_forever()
