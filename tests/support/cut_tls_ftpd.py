# An explicit-TLS FTP server, passive only, any login, whose data connections
# end without a TLS close when told to:
#   cut_tls_ftpd.py PORT CERT KEY ROOT SIZE cut|whole [INJECTED]
# RETR sends SIZE bytes ((i * 131) & 255), STOR stores into ROOT. With "cut"
# RETR sends half of them and STOR reads one block; then the TCP connection
# ends under the TLS session and the reply is 226 all the same. INJECTED
# (with \r and \n escapes) goes in clear right behind the 234, in the same
# segment, as an attacker on the path would put it.
import socket
import ssl
import sys

port, cert, key, root, size, mode = sys.argv[1:7]
cut = mode == "cut"
injected = sys.argv[7].encode().decode("unicode_escape").encode() if len(sys.argv) > 7 else b""
payload = bytes((i * 131) & 255 for i in range(int(size)))
tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
tls.load_cert_chain(cert, key)


def session(sock):
    buf, data_listener = b"", None

    def reply(text):
        sock.sendall(text.encode() + b"\r\n")

    reply("220 Cutting server ready")
    while True:
        while b"\r\n" not in buf:
            chunk = sock.recv(4096)
            if not chunk:
                return
            buf += chunk
        line, buf = buf.split(b"\r\n", 1)
        verb, _, arg = line.decode().partition(" ")
        if verb == "AUTH":
            sock.sendall(b"234 Go ahead\r\n" + injected)
            sock = tls.wrap_socket(sock, server_side=True)
        elif verb == "PASV":
            data_listener = socket.socket()
            # A small window: an upload cannot be all in flight before a cut.
            data_listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            data_listener.bind(("127.0.0.1", 0))
            data_listener.listen()
            p = data_listener.getsockname()[1]
            reply("227 Entering Passive Mode (127,0,0,1,%d,%d)" % (p >> 8, p & 255))
        elif verb in ("RETR", "STOR") and data_listener:
            reply("150 Opening data connection")
            data = tls.wrap_socket(data_listener.accept()[0], server_side=True)
            data_listener.close()
            if verb == "RETR":
                data.sendall(payload[: len(payload) // 2] if cut else payload)
            else:
                with open(root + "/" + arg, "wb") as f:
                    while chunk := data.recv(65536):
                        f.write(chunk)
                        if cut:
                            break
            try:
                if cut:
                    data.shutdown(socket.SHUT_RDWR)  # drops the TLS layer unclosed
                else:
                    data.unwrap()
            except OSError:
                pass  # the client closed first
            data.close()
            reply("226 Transfer complete")
        elif verb == "QUIT":
            return reply("221 Goodbye")
        else:
            reply({"USER": "331 Password", "PASS": "230 Logged in"}.get(verb, "200 OK"))


listener = socket.create_server(("127.0.0.1", int(port)))
while True:
    conn = listener.accept()[0]
    try:
        session(conn)
    except (OSError, ValueError):
        pass
    conn.close()
