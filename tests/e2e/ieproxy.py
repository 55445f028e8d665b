#!/usr/bin/env python3
# ieproxy.py FLAGS [PROXY [BYPASS [URL]]]: the hex digits of an Internet Options DefaultConnectionSettings value for
# `reg add /t REG_BINARY /d`, laid out as WinINet writes it and Wine's WinHTTP reads it: the DWORDs version (0x46),
# counter and FLAGS (1 direct, 2 the proxy, 4 the auto-config URL, 8 automatic detection), then the proxy, the bypass
# list and the auto-config URL, each after its DWORD length, then zeros.
import struct
import sys

flags, *texts = sys.argv[1:]
blob = struct.pack('<3I', 0x46, 0, int(flags, 0))
for text in (texts + ['', '', ''])[:3]:
    blob += struct.pack('<I', len(text)) + text.encode('ascii')
print((blob + bytes(32)).hex().upper())
