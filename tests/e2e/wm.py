"""wm.py ping|close WINDOW: what a window manager asks of a client's X window (ICCCM 4.2.8, EWMH).
close sends WM_DELETE_WINDOW. ping sends _NET_WM_PING; exit 0 once the window answers within 0.5 s."""
import ctypes as C
import sys
import time

x = C.CDLL("libX11.so.6")
x.XOpenDisplay.restype = C.c_void_p
x.XInternAtom.restype = x.XDefaultRootWindow.restype = C.c_ulong
x.XInternAtom.argtypes = [C.c_void_p, C.c_char_p, C.c_int]
x.XDefaultRootWindow.argtypes = x.XFlush.argtypes = x.XPending.argtypes = [C.c_void_p]
x.XSendEvent.argtypes = [C.c_void_p, C.c_ulong, C.c_int, C.c_long, C.c_void_p]
x.XSelectInput.argtypes = [C.c_void_p, C.c_ulong, C.c_long]
x.XNextEvent.argtypes = [C.c_void_p, C.c_void_p]


class ClientMessage(C.Structure):  # XClientMessageEvent, padded to the size of an XEvent
    _fields_ = [("type", C.c_int), ("serial", C.c_ulong), ("send_event", C.c_int), ("display", C.c_void_p),
                ("window", C.c_ulong), ("message_type", C.c_ulong), ("format", C.c_int), ("l", C.c_long * 5),
                ("pad", C.c_long * 12)]


display, window = x.XOpenDisplay(None), int(sys.argv[2], 0)
protocol = x.XInternAtom(display, b"WM_DELETE_WINDOW" if sys.argv[1] == "close" else b"_NET_WM_PING", 0)
event = ClientMessage(33, 0, 1, display, window, x.XInternAtom(display, b"WM_PROTOCOLS", 0), 32)
event.l[0], event.l[2] = protocol, window
x.XSelectInput(display, x.XDefaultRootWindow(display), 1 << 17 | 1 << 19)  # the answer, sent to the root window
x.XSendEvent(display, window, 0, 0, C.byref(event))
x.XFlush(display)
answer, end = ClientMessage(), time.monotonic() + 0.5
while sys.argv[1] == "ping" and time.monotonic() < end:
    while x.XPending(display):
        x.XNextEvent(display, C.byref(answer))
        if answer.type == 33 and answer.l[0] == protocol and answer.l[2] == window:
            sys.exit(0)
    time.sleep(0.01)
sys.exit(sys.argv[1] != "close")
