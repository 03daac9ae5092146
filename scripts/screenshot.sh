#!/usr/bin/env bash
# Takes a screenshot of the desktop program: starts it on a virtual X
# display (Xvfb), presses the space bar to start the run, lets it run for a
# few seconds and saves the program's windows as a PNG.
#
#   scripts/screenshot.sh [--seconds N] [OUTPUT.png | --docs]
#
# The picture goes to OUTPUT.png, by default to a new temporary file; its
# name is printed. --docs replaces docs/screenshot.png, the one the README
# shows. The run lasts 6 seconds unless --seconds says otherwise; the
# virtual screen is 1280x1024 unless SCREEN=WIDTHxHEIGHT says otherwise.
#
# Needs Xvfb and python3 (standard library only: the key press goes through
# the XTest extension and the picture is read with XGetImage, via ctypes).
set -euo pipefail

seconds=6
output=""
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --docs) output="docs/screenshot.png"; shift ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "screenshot.sh: unknown option $1" >&2; exit 2 ;;
    *) output="$(realpath -m "$1")"; shift ;;
  esac
done
cd "$(dirname "$0")/.."
if [ -z "$output" ]; then
  output="$(mktemp --tmpdir talveron-screenshot-XXXXXX.png)"
fi
program="${TALVERON:-build/src/gui/talveron}"

if [ ! -x "$program" ]; then
  scripts/build.sh >/dev/null
fi
mkdir -p "$(dirname "$output")"

# A free display number.
display=99
while [ -e "/tmp/.X11-unix/X${display}" ] || [ -e "/tmp/.X${display}-lock" ]; do
  display=$((display + 1))
done

Xvfb ":${display}" -screen 0 "${SCREEN:-1280x1024}x24" -br -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
program_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X${display}" ] && break
  sleep 0.1
done

DISPLAY=":${display}" QT_QPA_PLATFORM=xcb "$program" >/dev/null 2>&1 &
program_pid=$!

DISPLAY=":${display}" python3 - "$seconds" "$output" "${SCREEN:-1280x1024}" <<'PYTHON'
import ctypes
import struct
import sys
import time
import zlib

seconds = float(sys.argv[1])
output = sys.argv[2]

x11 = ctypes.CDLL("libX11.so.6")
xtst = ctypes.CDLL("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XKeysymToKeycode.restype = ctypes.c_ubyte
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
x11.XGetImage.restype = ctypes.c_void_p
x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                          ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                      ctypes.c_ulong]


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


display = x11.XOpenDisplay(None)
if not display:
    sys.exit("cannot open the virtual display")
root = x11.XDefaultRootWindow(display)
WIDTH, HEIGHT = (int(n) for n in sys.argv[3].split("x"))


def grab():
    image = ctypes.cast(x11.XGetImage(display, root, 0, 0, WIDTH, HEIGHT, 0xFFFFFFFF, 2),
                        ctypes.POINTER(XImage)).contents
    if image.bits_per_pixel != 32:
        sys.exit("unexpected pixel format")
    size = image.bytes_per_line * image.height
    return bytes(ctypes.string_at(image.data, size)), image.bytes_per_line


def bounds(data, stride):
    """The smallest rectangle holding every pixel that is not the black root."""
    left, top, right, bottom = WIDTH, None, 0, 0
    for y in range(HEIGHT):
        line = data[y * stride:y * stride + WIDTH * 4]
        start = len(line) - len(line.lstrip(b"\0"))
        if start == len(line):
            continue
        end = len(line.rstrip(b"\0"))
        top = y if top is None else top
        bottom = y + 1
        left = min(left, start // 4)
        right = max(right, (end + 3) // 4)
    return None if top is None else (left, top, right, bottom)


# Wait for the windows to be drawn.
box = None
for _ in range(100):
    time.sleep(0.2)
    data, stride = grab()
    box = bounds(data, stride)
    if box and box[2] - box[0] > 600 and box[3] - box[1] > 500:
        break
if not box:
    sys.exit("the program's windows did not appear")
time.sleep(1.0)

# The pointer into the map, so that the key goes to the program; then the
# space bar starts the run.
left, top, right, bottom = box
xtst.XTestFakeMotionEvent(display, -1, (left + right) // 2, top + 200, 0)
space = x11.XKeysymToKeycode(display, 0x20)
xtst.XTestFakeKeyEvent(display, space, 1, 0)
xtst.XTestFakeKeyEvent(display, space, 0, 0)
x11.XSync(display, 0)
time.sleep(seconds)

data, stride = grab()
left, top, right, bottom = bounds(data, stride)
rows = []
for y in range(top, bottom):
    line = data[y * stride + left * 4:y * stride + right * 4]
    rgb = bytearray(len(line) // 4 * 3)
    rgb[0::3] = line[2::4]
    rgb[1::3] = line[1::4]
    rgb[2::3] = line[0::4]
    rows.append(b"\x00" + bytes(rgb))


def chunk(kind, body):
    return (struct.pack(">I", len(body)) + kind + body +
            struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))


png = (b"\x89PNG\r\n\x1a\n" +
       chunk(b"IHDR", struct.pack(">IIBBBBB", right - left, bottom - top, 8, 2, 0, 0, 0)) +
       chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))
with open(output, "wb") as f:
    f.write(png)
print(f"{output}: {right - left} x {bottom - top}")
PYTHON
