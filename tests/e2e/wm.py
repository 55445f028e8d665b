"""wm.py ping|close WINDOW: as a window manager asks a client's X window (ICCCM 4.2.8, EWMH): WM_DELETE_WINDOW,
or _NET_WM_PING and exit 0 once the window answers within 0.5 s."""
import ctypes as C, sys, time

x, P, L = C.CDLL("libX11.so.6"), C.c_void_p, C.c_ulong
x.XOpenDisplay.restype, x.XInternAtom.restype, x.XDefaultRootWindow.restype = P, L, L
x.XInternAtom.argtypes, x.XDefaultRootWindow.argtypes, x.XNextEvent.argtypes = [P, C.c_char_p, C.c_int], [P], [P, P]
x.XSendEvent.argtypes, x.XSelectInput.argtypes = [P, L, C.c_int, C.c_long, P], [P, L, C.c_long]

class ClientMessage(C.Structure):  # XClientMessageEvent, padded to the size of an XEvent
    _fields_ = [("type", C.c_int), ("serial", L), ("send_event", C.c_int), ("display", P), ("window", L),
                ("message_type", L), ("format", C.c_int), ("l", C.c_long * 5), ("pad", C.c_long * 12)]

display, window, ping = x.XOpenDisplay(None), int(sys.argv[2], 0), sys.argv[1] == "ping"
protocol = x.XInternAtom(display, b"_NET_WM_PING" if ping else b"WM_DELETE_WINDOW", 0)
event = ClientMessage(33, 0, 1, display, window, x.XInternAtom(display, b"WM_PROTOCOLS", 0), 32)
event.l[0], event.l[2] = protocol, window
x.XSelectInput(display, x.XDefaultRootWindow(display), 1 << 17 | 1 << 19)  # the answer, sent to the root window
x.XSendEvent(display, window, 0, 0, C.byref(event))
x.XFlush(P(display))
answer, end = ClientMessage(), time.monotonic() + 0.5
while ping and time.monotonic() < end:
    while x.XPending(P(display)) and x.XNextEvent(display, C.byref(answer)) == 0:
        if answer.type == 33 and answer.l[0] == protocol and answer.l[2] == window: sys.exit(0)
    time.sleep(0.01)
sys.exit(ping)
