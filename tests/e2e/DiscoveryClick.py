# Clicks the left mouse button at x y on the X display in DISPLAY (XTest extension).
import ctypes
import sys

x11 = ctypes.CDLL("libX11.so.6")
xtst = ctypes.CDLL("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
display = ctypes.c_void_p(x11.XOpenDisplay(None))
if not display:
    sys.exit("cannot open the display")
x, y = int(sys.argv[1]), int(sys.argv[2])
xtst.XTestFakeMotionEvent(display, -1, x, y, 0)
xtst.XTestFakeButtonEvent(display, 1, True, 0)
xtst.XTestFakeButtonEvent(display, 1, False, 0)
x11.XFlush(display)
x11.XCloseDisplay(display)
