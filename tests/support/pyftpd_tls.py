# pyftpdlib with explicit TLS required for logins and data, as a host
# would set it up: pyftpd_tls.py ROOT PORT PASV_LOW-PASV_HIGH USER PASSWORD CERT KEY [ADDRESS]
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import TLS_FTPHandler
from pyftpdlib.servers import FTPServer

root, port, ports, user, password, cert, key = sys.argv[1:8]
address = sys.argv[8] if len(sys.argv) > 8 else "127.0.0.1"
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
handler = TLS_FTPHandler
handler.authorizer = authorizer
handler.certfile = cert
handler.keyfile = key
handler.tls_control_required = True
handler.tls_data_required = True
low, high = ports.split("-")
handler.passive_ports = range(int(low), int(high) + 1)
FTPServer((address, int(port)), handler).serve_forever()
