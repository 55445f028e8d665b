"""The end-to-end suite's small DNS servers on 192.0.2.HOST port 53. 2: never answers. 4: relays to the dnsmasq on
127.0.0.1 and sends a forgery (another identifier and addresses), then the real reply, both padded to 3,000 bytes.
5: two addresses, TC set. 6: a reply cut in its last record. 7: an A record of RDLENGTH 5 first. 8: an A record for
another name only. 9: one address at a time, 198.51.100.10 and .11 in turn. 10: another address to our query
(identifier 4575) than to the system resolver's. 11: 192.0.2.32 to our A query, the others relayed to the computer's
dnsmasq. 13: relays to it but for names whose first label starts with "silent", which it never answers. 14: a pool,
8 of 192.0.2.40 to .55 at random to every A query."""
import random
import select
import socket
import struct

NAME, turn = b"\xc0\x0c", 0  # a pointer to the question's name

def record(address, owner=NAME, rdlength=4):
    return owner + struct.pack(">HHIH", 1, 1, 60, rdlength) + bytes(address) + bytes(rdlength - 4)

def reply(query, records, flags=0x8180):
    return query[:2] + struct.pack(">5H", flags, 1, len(records), 0, 0) + query[12:] + b"".join(records)

def answer(host, query):
    global turn
    one, two = record([203, 0, 113, 1]), record([203, 0, 113, 2])
    if host == 9:
        turn += 1
    return {5: lambda: reply(query, [one, two], 0x8380),
            6: lambda: reply(query, [one, two])[:-2],
            7: lambda: reply(query, [record([203, 0, 113, 1], rdlength=5), two]),
            8: lambda: reply(query, [record([203, 0, 113, 66], b"\x05other" + NAME)]),
            9: lambda: reply(query, [record([198, 51, 100, 11 - turn % 2])]),
            10: lambda: reply(query, [record([203, 0, 113, 10] if query[:2] == b"\x11\xdf" else [198, 51, 100, 10])]),
            11: lambda: reply(query, [record([192, 0, 2, 32])]),
            14: lambda: reply(query, [record([192, 0, 2, h]) for h in random.sample(range(40, 56), 8)]
                              if query[-3] == 1 else []),
            }[host]()

servers = {socket.socket(socket.AF_INET, socket.SOCK_DGRAM): host for host in (2, 4, 5, 6, 7, 8, 9, 10, 11, 13, 14)}
for server, host in servers.items():
    server.bind(("192.0.2.%d" % host, 53))
upstream = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
upstream.settimeout(2)
while True:
    for server in select.select(list(servers), [], [])[0]:
        query, client = server.recvfrom(4096)
        if servers[server] == 13 or servers[server] == 11 and query[:2] != b"\x11\xdf":
            try:
                if not query[13:].startswith(b"silent"):
                    upstream.sendto(query, ("192.0.2.1", 53))
                    server.sendto(upstream.recv(4096), client)
            except socket.timeout:
                pass
        elif servers[server] == 4:
            upstream.sendto(query, ("192.0.2.1", 53))
            real = upstream.recv(4096)
            forged = bytes([real[0] ^ 0xFF]) + real[1:].replace(bytes([198, 51, 100]), bytes([203, 0, 113]))
            server.sendto(forged.ljust(3000, b"\0"), client)
            server.sendto(real.ljust(3000, b"\0"), client)
        elif servers[server] != 2:
            server.sendto(answer(servers[server], query), client)
