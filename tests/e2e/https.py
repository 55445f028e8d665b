"""The end-to-end suite's HTTPS stand-ins on port 443, with the certificates of the directory given: 192.0.2.31,
192.0.2.32, 2001:db8::31 and the pool 192.0.2.40 to .55 the genuine site (site.pem: site.test, site6.test, pool.test,
*.site.test, from the private CA), 192.0.2.98 the CA's certificate for other.test, 192.0.2.99 a self-signed one,
192.0.2.97 accepts and never answers; hostile ones: 192.0.2.96 a name with a NUL in it (nulname.test\\0.other.test),
192.0.2.95 a chain of 20 CAs below the root for longchain.test; the others as "NAME+HOW" says: trickle the handshake
one byte at a time, slow 1 s before it, client asks for a client certificate, tls12 stops at TLS 1.2, keyless sends
the certificate without proof of its key. 192.0.2.80 serves the directory over http (the caIssuers URLs: 404 for a
file that is not there)."""
import functools
import http.server
import os
import select
import socket
import ssl
import struct
import sys
import threading
import time

pki = sys.argv[1]

def context(name, how):
    c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    c.load_cert_chain(f"{pki}/{name}.pem", f"{pki}/{name}.key")
    c.load_verify_locations(f"{pki}/ca0.pem")
    c.verify_mode = ssl.CERT_REQUIRED if "client" in how else ssl.CERT_NONE
    c.maximum_version = ssl.TLSVersion.TLSv1_2 if "tls12" in how else ssl.TLSVersion.MAXIMUM_SUPPORTED
    return c

sites = {"192.0.2.31": "site", "192.0.2.32": "site", "2001:db8::31": "site", "192.0.2.98": "other",
         "192.0.2.99": "self", "192.0.2.97": None, "192.0.2.96": "nul", "192.0.2.95": "long",
         "192.0.2.94": "site+trickle", "192.0.2.81": "cnonly.test", "192.0.2.82": "iponly.test",
         "192.0.2.83": "self+client+tls12", "192.0.2.84": "site+client+tls12", "192.0.2.85": "site+keyless",
         "192.0.2.86": "aia", "192.0.2.87": "aiaquiet", "192.0.2.88": "rogue", "192.0.2.89": "site+client",
         "192.0.2.78": "aiajunk", "192.0.2.79": "aia404", "192.0.2.77": "aianame",
         **{f"192.0.2.{h}": "site" for h in range(40, 56)}, **{f"192.0.2.{h}": "site+slow" for h in range(60, 64)}}
listeners, silent = {}, []
for address, served in sites.items():
    s = socket.socket(socket.AF_INET6 if ":" in address else socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((address, 443))
    s.listen(16)
    name, *how = (served or "").split("+")
    listeners[s] = name and (context(name, how), how, name)
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=pki)
threading.Thread(target=http.server.ThreadingHTTPServer(("192.0.2.80", 80), handler).serve_forever, daemon=True).start()

def keyless(conn, name):  # by hand (RFC 5246): ServerHello, Certificate, then a fatal alert (handshake_failure)
    conn.recv(65536)
    der = ssl.PEM_cert_to_DER_cert(open(f"{pki}/{name}.pem").read())
    hello = b"\3\3" + os.urandom(32) + bytes.fromhex("00c02f000005ff01000100")  # ECDHE_RSA_WITH_AES_128_GCM_SHA256
    certificate = (len(der) + 3).to_bytes(3, "big") + len(der).to_bytes(3, "big") + der
    messages = b"".join(struct.pack(">I", k << 24 | len(m)) + m for k, m in ((2, hello), (11, certificate)))
    conn.sendall(b"\26\3\3" + struct.pack(">H", len(messages)) + messages + bytes.fromhex("15030300020228"))
    while conn.recv(4096):  # until the client closes
        pass

def handshake(conn, ctx, how, name):
    conn.settimeout(5)
    try:
        time.sleep("slow" in how)
        if "keyless" in how:
            keyless(conn, name)
        elif "trickle" not in how:
            ctx.wrap_socket(conn, server_side=True).close()
            return
        incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        tls = ctx.wrap_bio(incoming, outgoing, server_side=True)
        incoming.write(conn.recv(65536))
        try:
            tls.do_handshake()
        except ssl.SSLWantReadError:
            pass
        for octet in outgoing.read():
            conn.send(bytes([octet]))
            time.sleep(0.05)
    except (OSError, ssl.SSLError):
        pass
    conn.close()

while True:
    for s in select.select(list(listeners), [], [])[0]:
        conn, _ = s.accept()
        if not listeners[s]:
            silent.append(conn)  # kept open, never answered
        else:
            threading.Thread(target=handshake, args=(conn, *listeners[s]), daemon=True).start()
