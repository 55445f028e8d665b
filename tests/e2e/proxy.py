"""The end-to-end suite's proxies on 192.0.2.90: 3128 an honest HTTP relay (CONNECT, RFC 9110 section 9.3.6), 3129 one
that tunnels every CONNECT to 192.0.2.81 (a trusted certificate that names another host), 3130 one that wants a
password (407), 3131 one that accepts and never answers, 1080 an honest SOCKS5 relay (RFC 1928, no authentication).
The relays know the names given as NAME=ADDRESS arguments and address literals, nothing else: they look no name up.
Each request line goes to standard error."""
import socket
import sys
import threading

names = dict(arg.split("=", 1) for arg in sys.argv[1:])


def pipe(a, b):
    try:
        while data := a.recv(65536):
            b.sendall(data)
    except OSError:
        pass
    for s in (a, b):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def literal(host):
    for family in (socket.AF_INET, socket.AF_INET6):
        try:
            return socket.inet_pton(family, host) and host
        except OSError:
            pass
    return None


def relay(conn, host, port, reply_ok):
    address = names.get(host) or literal(host)  # never a lookup: this namespace's resolver is the machine's
    try:
        far = socket.create_connection((address, port), timeout=3)
    except (OSError, TypeError):
        return False
    conn.sendall(reply_ok)
    threading.Thread(target=pipe, args=(far, conn), daemon=True).start()
    pipe(conn, far)
    return True


def http(conn, how):
    head = b""
    while b"\r\n\r\n" not in head:
        data = conn.recv(4096)
        if not data:
            return
        head += data
    line = head.split(b"\r\n", 1)[0].decode("latin-1")
    print(f"{how} {line}", file=sys.stderr, flush=True)
    method, target, _ = line.split(" ", 2)
    if how == "password":
        return conn.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"p\"\r\n"
                            b"Content-Length: 0\r\n\r\n")
    if method != "CONNECT":
        return conn.sendall(b"HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n")
    host, port = target.rsplit(":", 1)
    if how == "substituting":
        host = "192.0.2.81"
    if not relay(conn, host, int(port), b"HTTP/1.1 200 Connection established\r\n\r\n"):
        conn.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")


def socks5(conn, _):
    if conn.recv(2)[0:1] != b"\5":
        return
    conn.recv(256)  # the methods
    conn.sendall(b"\5\0")
    request = conn.recv(4)
    if request[3] == 3:
        host = conn.recv(conn.recv(1)[0]).decode("latin-1")
    else:
        host = socket.inet_ntop(socket.AF_INET if request[3] == 1 else socket.AF_INET6,
                                conn.recv(4 if request[3] == 1 else 16))
    port = int.from_bytes(conn.recv(2), "big")
    print(f"socks5 {host}:{port}", file=sys.stderr, flush=True)
    if not relay(conn, host, port, b"\5\0\0\1\0\0\0\0\0\0"):
        conn.sendall(b"\5\5\0\1\0\0\0\0\0\0")


def serve(port, handler, how):
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("192.0.2.90", port))
    listener.listen(32)
    kept = []
    while True:
        conn, _ = listener.accept()
        if how == "silent":
            kept.append(conn)  # never answered, never closed
            continue
        threading.Thread(target=lambda c=conn: (handler(c, how), c.close()), daemon=True).start()


for port, handler, how in ((3128, http, "honest"), (3129, http, "substituting"), (3130, http, "password"),
                           (3131, http, "silent"), (1080, socks5, "socks5")):
    threading.Thread(target=serve, args=(port, handler, how), daemon=True).start()
threading.Event().wait()
