"""DNS over HTTPS (RFC 8484) for the tests: doh.py CERT KEY ADDRESS [NAME=ADDRESS,...]... answers POSTs on ADDRESS
port 443 with the A records the arguments give the name asked (none for AAAA, NXDOMAIN for a name not given), and
writes a line to standard error for every request."""
import http.server
import socket
import ssl
import struct
import sys

cert, key, address = sys.argv[1:4]
zone = {name: addresses.split(",") for name, addresses in (a.split("=") for a in sys.argv[4:])}
tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
tls.load_cert_chain(cert, key)

def answer(query):
    labels, end = [], 12
    while query[end]:
        labels, end = labels + [query[end + 1:end + 1 + query[end]].decode().lower()], end + 1 + query[end]
    found = zone.get(".".join(labels))
    records = [b"\xc0\x0c" + struct.pack(">HHIH", 1, 1, 60, 4) + socket.inet_aton(a)
               for a in (found if found and query[end + 2] == 1 else [])]
    flags = 0x8183 if found is None else 0x8180
    return query[:2] + struct.pack(">5H", flags, 1, len(records), 0, 0) + query[12:end + 5] + b"".join(records)

class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        reply = answer(self.rfile.read(int(self.headers["Content-Length"])))
        self.send_response(200)
        self.send_header("Content-Type", "application/dns-message")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

server = http.server.ThreadingHTTPServer((address, 443), Handler)
server.socket = tls.wrap_socket(server.socket, server_side=True)
server.serve_forever()
