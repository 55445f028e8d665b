"""The end-to-end suite's HTTPS stand-ins on port 443, with the certificates of the directory given: 192.0.2.31,
192.0.2.32 and 2001:db8::31 the genuine site (site.pem: site.test, site6.test, pool.test, from the private CA),
192.0.2.98 the CA's certificate for other.test, 192.0.2.99 a self-signed one, 192.0.2.97 accepts and never answers;
hostile ones: 192.0.2.96 a name with a NUL in it (nulname.test\\0.other.test), 192.0.2.95 a chain of 20 CAs below
the root for longchain.test, 192.0.2.94 the genuine site's handshake one byte at a time."""
import select
import socket
import ssl
import sys
import threading
import time

pki = sys.argv[1]


def context(name):
    c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    c.load_cert_chain(f"{pki}/{name}.pem", f"{pki}/{name}.key")
    return c


sites = {"192.0.2.31": "site", "192.0.2.32": "site", "2001:db8::31": "site", "192.0.2.98": "other",
         "192.0.2.99": "self", "192.0.2.97": None, "192.0.2.96": "nul", "192.0.2.95": "long", "192.0.2.94": "site"}
trickled = {"192.0.2.94"}
listeners, silent = {}, []
for address, name in sites.items():
    s = socket.socket(socket.AF_INET6 if ":" in address else socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((address, 443))
    s.listen(16)
    listeners[s] = name and context(name)


def handshake(conn, ctx, trickle):
    conn.settimeout(5)
    try:
        if not trickle:
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
        if listeners[s] is None:
            silent.append(conn)  # kept open, never answered
        else:
            trickle = s.getsockname()[0] in trickled
            threading.Thread(target=handshake, args=(conn, listeners[s], trickle), daemon=True).start()
