"""A DNS-over-HTTPS stand-in (RFC 8484, POST over HTTP/1.1): doh.py CERT KEY ADDRESS [NAME=ADDRESS,...]... serves on
ADDRESS port 443 with CERT and KEY, answers each query's A records from the NAME=... arguments (NODATA for AAAA, and
NXDOMAIN for a name not given), and writes a line to standard error for every connection it accepts."""
import socket
import ssl
import struct
import sys
import threading

cert, key, address = sys.argv[1:4]
zone = {name.encode(): addresses.split(",") for name, addresses in (a.split("=") for a in sys.argv[4:])}
tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
tls.load_cert_chain(cert, key)


def answer(query):
    end = query.index(b"\0", 12)
    labels, i = [], 12
    while i < end:
        labels.append(query[i + 1:i + 1 + query[i]].lower())
        i += 1 + query[i]
    found = zone.get(b".".join(labels))
    records = [b"\xc0\x0c" + struct.pack(">HHIH", 1, 1, 60, 4) + socket.inet_aton(a)
               for a in (found if found and query[end + 2] == 1 else [])]
    flags = 0x8180 if found is not None else 0x8183
    return query[:2] + struct.pack(">5H", flags, 1, len(records), 0, 0) + query[12:end + 5] + b"".join(records)


def serve(conn):
    try:
        with tls.wrap_socket(conn, server_side=True) as s:
            s.settimeout(5)
            head = b""
            while b"\r\n\r\n" not in head:
                head += s.recv(4096)
            head, body = head.split(b"\r\n\r\n", 1)
            length = int([h for h in head.lower().split(b"\r\n") if h.startswith(b"content-length:")][0][15:])
            while len(body) < length:
                body += s.recv(4096)
            reply = answer(body)
            s.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/dns-message\r\nContent-Length: %d\r\n\r\n"
                      % len(reply) + reply)
    except (OSError, ssl.SSLError, ValueError, IndexError):
        pass


listener = socket.create_server((address, 443), family=socket.AF_INET6 if ":" in address else socket.AF_INET)
while True:
    conn, peer = listener.accept()
    print("connection from", peer[0], file=sys.stderr, flush=True)
    threading.Thread(target=serve, args=(conn,), daemon=True).start()
