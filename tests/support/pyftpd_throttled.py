# pyftpdlib whose data connections take uploads at a fixed rate, as a slow
# line would: pyftpd_throttled.py ROOT PORT PASV_LOW-PASV_HIGH USER PASSWORD BYTES_PER_SECOND
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

root, port, ports, user, password, rate = sys.argv[1:7]
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
dtp = ThrottledDTPHandler
dtp.read_limit = int(rate)
handler = FTPHandler
handler.authorizer = authorizer
handler.dtp_handler = dtp
low, high = ports.split("-")
handler.passive_ports = range(int(low), int(high) + 1)
FTPServer(("127.0.0.1", int(port)), handler).serve_forever()
