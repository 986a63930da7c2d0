#!/usr/bin/env python3
"""Screenshots of one X window, found by its title, with the Python standard
library alone (Xlib through ctypes).

  screenshot.py check DISPLAY
      exit 0 when DISPLAY can be opened

  screenshot.py watch DISPLAY TITLE --log FILE --after TEXT --during PNG --end PNG
      waits for the window; once TEXT shows up in FILE (the mirror's access
      log) it waits --delay seconds and saves the window as the --during
      shot; it keeps grabbing the window and, when the window goes away,
      saves the last grab as the --end shot.
"""

import argparse
import ctypes
import ctypes.util
import struct
import sys
import time
import zlib

xlib = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11") or "libX11.so.6")

Window = ctypes.c_ulong
Atom = ctypes.c_ulong


class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("border_width", ctypes.c_int), ("depth", ctypes.c_int),
                ("visual", ctypes.c_void_p), ("root", Window), ("class", ctypes.c_int),
                ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
                ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
                ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int), ("red_mask", ctypes.c_ulong),
                ("green_mask", ctypes.c_ulong), ("blue_mask", ctypes.c_ulong)]


ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
# A window can vanish between finding and grabbing it; that is no reason to die.
ignore_errors = ERROR_HANDLER(lambda display, event: 0)

xlib.XOpenDisplay.restype = ctypes.c_void_p
xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
xlib.XDefaultRootWindow.restype = Window
xlib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
xlib.XInternAtom.restype = Atom
xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
xlib.XQueryTree.argtypes = [ctypes.c_void_p, Window, ctypes.POINTER(Window), ctypes.POINTER(Window),
                            ctypes.POINTER(ctypes.POINTER(Window)), ctypes.POINTER(ctypes.c_uint)]
xlib.XGetWindowAttributes.argtypes = [ctypes.c_void_p, Window, ctypes.POINTER(XWindowAttributes)]
xlib.XGetWindowProperty.argtypes = [ctypes.c_void_p, Window, Atom, ctypes.c_long, ctypes.c_long,
                                    ctypes.c_int, Atom, ctypes.POINTER(Atom), ctypes.POINTER(ctypes.c_int),
                                    ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
                                    ctypes.POINTER(ctypes.POINTER(ctypes.c_ubyte))]
xlib.XGetImage.restype = ctypes.POINTER(XImage)
xlib.XGetImage.argtypes = [ctypes.c_void_p, Window, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                           ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
xlib.XFree.argtypes = [ctypes.c_void_p]
xlib.XSetErrorHandler.argtypes = [ERROR_HANDLER]
xlib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]

IS_VIEWABLE = 2
Z_PIXMAP = 2
ALL_PLANES = 0xFFFFFFFF
XA_WM_NAME = 39


def open_display(name):
    display = xlib.XOpenDisplay(name.encode())
    if display:
        xlib.XSetErrorHandler(ignore_errors)
    return display


def title_of(display, window):
    for atom in (xlib.XInternAtom(display, b"_NET_WM_NAME", 0), XA_WM_NAME):
        kind, fmt = Atom(), ctypes.c_int()
        items, rest = ctypes.c_ulong(), ctypes.c_ulong()
        data = ctypes.POINTER(ctypes.c_ubyte)()
        if xlib.XGetWindowProperty(display, window, atom, 0, 1024, 0, 0, ctypes.byref(kind),
                                   ctypes.byref(fmt), ctypes.byref(items), ctypes.byref(rest),
                                   ctypes.byref(data)) == 0 and data:
            text = bytes(data[:items.value]).decode("utf-8", "replace") if fmt.value == 8 else ""
            xlib.XFree(data)
            if text:
                return text
    return ""


def find_window(display, title, window=None):
    if window is None:
        window = xlib.XDefaultRootWindow(display)
    attributes = XWindowAttributes()
    if (xlib.XGetWindowAttributes(display, window, ctypes.byref(attributes))
            and attributes.map_state == IS_VIEWABLE and title_of(display, window) == title):
        return window
    root, parent = Window(), Window()
    children = ctypes.POINTER(Window)()
    count = ctypes.c_uint()
    if not xlib.XQueryTree(display, window, ctypes.byref(root), ctypes.byref(parent),
                           ctypes.byref(children), ctypes.byref(count)):
        return None
    found = None
    for i in range(count.value):
        found = find_window(display, title, children[i])
        if found:
            break
    if children:
        xlib.XFree(children)
    return found


def grab(display, window):
    """(width, height, rgb bytes) or None."""
    attributes = XWindowAttributes()
    if not xlib.XGetWindowAttributes(display, window, ctypes.byref(attributes)):
        return None
    width, height = attributes.width, attributes.height
    image = xlib.XGetImage(display, window, 0, 0, width, height, ALL_PLANES, Z_PIXMAP)
    xlib.XSync(display, 0)
    if not image:
        return None
    img = image.contents
    if img.bits_per_pixel != 32:
        return None
    raw = ctypes.string_at(img.data, img.bytes_per_line * height)
    shifts = [(mask & -mask).bit_length() - 1 for mask in (img.red_mask, img.green_mask, img.blue_mask)]
    rgb = bytearray()
    for y in range(height):
        for value in struct.unpack_from("<%dI" % width, raw, y * img.bytes_per_line):
            rgb += bytes(((value >> shifts[0]) & 0xFF, (value >> shifts[1]) & 0xFF,
                          (value >> shifts[2]) & 0xFF))
    xlib.XFree(img.data)
    xlib.XFree(image)
    return width, height, bytes(rgb)


def write_png(path, frame):
    width, height, rgb = frame
    raw = b"".join(b"\x00" + rgb[y * width * 3:(y + 1) * width * 3] for y in range(height))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def log_contains(path, text):
    try:
        with open(path, errors="replace") as f:
            return text in f.read()
    except OSError:
        return False


def watch(args):
    display = open_display(args.display)
    if not display:
        print("screenshot: cannot open display %s" % args.display, file=sys.stderr)
        return 1
    deadline = time.time() + args.timeout
    seen = False
    last = None
    triggered_at = None
    during_saved = False
    while time.time() < deadline:
        window = find_window(display, args.title)
        if not window:
            if seen:
                break
            time.sleep(0.1)
            continue
        seen = True
        frame = grab(display, window)
        if frame:
            last = frame
        if triggered_at is None and log_contains(args.log, args.after):
            triggered_at = time.time()
        if (not during_saved and triggered_at is not None and last
                and time.time() - triggered_at >= args.delay):
            write_png(args.during, last)
            during_saved = True
        time.sleep(0.1)
    if last:
        write_png(args.end, last)
    if not during_saved and last:
        # The download was over before the shot was due: the last grab
        # stands for both.
        write_png(args.during, last)
    return 0 if last else 1


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command", required=True)
    check = sub.add_parser("check")
    check.add_argument("display")
    w = sub.add_parser("watch")
    w.add_argument("display")
    w.add_argument("title")
    w.add_argument("--log", required=True)
    w.add_argument("--after", required=True)
    w.add_argument("--delay", type=float, default=2.0)
    w.add_argument("--during", required=True)
    w.add_argument("--end", required=True)
    w.add_argument("--timeout", type=float, default=600)
    args = parser.parse_args()
    if args.command == "check":
        return 0 if open_display(args.display) else 1
    return watch(args)


if __name__ == "__main__":
    sys.exit(main())
