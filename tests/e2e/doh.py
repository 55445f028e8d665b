"""DNS over HTTPS (RFC 8484) for the tests: doh.py CERT KEY ADDRESS [NAME=ADDRESS,...[!]]... answers POSTs on ADDRESS
port 443 with the A records the arguments give the name asked (none for AAAA, NXDOMAIN for a name not given; a 502 for
AAAA where the addresses end in "!", as a router that drops one family would have it), and writes a line to standard
error for every request."""
import http.server
import socket
import ssl
import struct
import sys

cert, key, address = sys.argv[1:4]
zone = {name: addresses.rstrip("!").split(",") for name, addresses in (a.split("=") for a in sys.argv[4:])}
dropped = {a.split("=")[0] for a in sys.argv[4:] if a.endswith("!")}
tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
tls.load_cert_chain(cert, key)

def answer(query):
    labels, end = [], 12
    while query[end]:
        labels, end = labels + [query[end + 1:end + 1 + query[end]].decode().lower()], end + 1 + query[end]
    found = zone.get(".".join(labels))
    if ".".join(labels) in dropped and query[end + 2] == 28:
        return None
    records = [b"\xc0\x0c" + struct.pack(">HHIH", 1, 1, 60, 4) + socket.inet_aton(a)
               for a in (found if found and query[end + 2] == 1 else [])]
    flags = 0x8183 if found is None else 0x8180
    return query[:2] + struct.pack(">5H", flags, 1, len(records), 0, 0) + query[12:end + 5] + b"".join(records)

class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        reply = answer(self.rfile.read(int(self.headers["Content-Length"])))
        if reply is None:
            return self.send_error(502)
        self.send_response(200)
        self.send_header("Content-Type", "application/dns-message")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

server = http.server.ThreadingHTTPServer((address, 443), Handler)
server.socket = tls.wrap_socket(server.socket, server_side=True)
server.serve_forever()
