"""Figures of the program on a line against its floor, a bare responder (bare_responder: no state,
no log, no output, one recv a block receive), the two run alternately in one run: the turnaround
of a status request (median of 200) and a 2 MB fetch through the device's socket commands
(127-byte block receives), over socket:// and over a pty, with the ratios. Then the program's
stdout lines for a 1 MB fetch, how soon SIGTERM ends it, and the CPU it uses while a socket:// line
is waited for. Only 127.0.0.1 is reached.
   python3 bench/line_bench.py [BUILD_DIR]     (BUILD_DIR: build, with the tests built)"""
import http.server
import os
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import termios
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from kit import Program, Pty, TcpDevice, sandboxed, wait_for  # noqa: E402

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build"
PROGRAM, BARE = os.path.join(BUILD, "zundrel-headless"), os.path.join(BUILD, "bench",
                                                                      "bare_responder")
BODY = os.urandom(2 * 1024 * 1024)
ROUNDS = 7


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):  # noqa: N802
        size = int(self.path[1:])
        self.send_response(200)
        self.send_header("Content-Length", str(size))
        self.end_headers()
        self.wfile.write(BODY[:size])

    def log_message(self, *args):
        pass


WEB = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
threading.Thread(target=WEB.serve_forever, daemon=True).start()


def ask(device, request, n):
    device.write(bytes.fromhex(request) if isinstance(request, str) else request)
    got = device.read(n, 10)
    assert len(got) == n, (request, got)
    return got


def turnaround(device):  # median of 200 status requests, microseconds
    times = []
    for _ in range(200):
        start = time.perf_counter()
        ask(device, "02 00 01 01", 5)
        times.append((time.perf_counter() - start) * 1e6)
    return statistics.median(times)


def fetch(device, size):  # an HTTP GET of `size` bytes through the socket commands, KB/s
    ask(device, "11 00 01 01", 5)
    ask(device, bytes.fromhex("11 00 12 03 00 00 02") + WEB.server_address[1].to_bytes(2, "little") +
        bytes([127, 0, 0, 1]) + bytes(8), 6)
    get = b"GET /%d HTTP/1.0\r\n\r\n" % size
    ask(device, bytes([0x11, 0, len(get) + 2, 0x0E, 0]) + get, 6)
    start, received = time.perf_counter(), 0
    while received < size:
        head = ask(device, "11 00 03 0F 00 7F", 6)
        if head[5] != 0xFF:
            received += head[5]
            ask(device, b"", head[5])
    seconds = time.perf_counter() - start
    ask(device, "11 00 02 07 00", 6)
    return size / 1024 / seconds


def started(which, kind, out=subprocess.DEVNULL):
    # The program or the floor on a pty or on socket:// to the test: (process, device).
    server, pty = (socket.create_server(("127.0.0.1", 0)), None) if kind == "socket" else (
        None, Pty())
    line = "socket://127.0.0.1:%d" % server.getsockname()[1] if server else pty.path
    command = [PROGRAM, "--port", line] if which == "zundrel" else [BARE, line]
    process = subprocess.Popen(sandboxed(command) if which == "zundrel" else command, stdout=out,
                               stderr=subprocess.DEVNULL)
    Program.running.append(process)
    if server:
        server.settimeout(10)
        device = TcpDevice(server.accept()[0])
        server.close()
    else:
        device = pty
        wait_for("the pty raw", lambda: not termios.tcgetattr(pty.slave)[3] & termios.ICANON, 10)
    ask(device, "01 00 01 02", 6)
    return process, device


def compare(kind):
    figures = {"zundrel": ([], []), "bare": ([], [])}
    for _ in range(ROUNDS):
        for which in ("zundrel", "bare"):
            process, device = started(which, kind)
            figures[which][0].append(turnaround(device))
            figures[which][1].append(fetch(device, len(BODY)))
            process.kill()
            process.wait()
            device.close()
    (zt, zf), (bt, bf) = [[statistics.median(f) for f in figures[w]] for w in ("zundrel", "bare")]
    print("%-9s status turnaround median %5.0f us, floor %5.0f us: %.2fx;  2 MB fetch %6.0f KB/s, "
          "floor %6.0f KB/s: %.2fx" % (kind, zt, bt, zt / bt, zf, bf, zf / bf))


def quiet():
    # The program's stdout lines for a 1 MB fetch (its labels), and how soon SIGTERM ends it.
    with tempfile.TemporaryFile() as out:
        process, device = started("zundrel", "socket", out)
        fetch(device, 1024 * 1024)
        start = time.perf_counter()
        process.send_signal(signal.SIGTERM)
        process.wait(10)
        ended = (time.perf_counter() - start) * 1000
        out.seek(0)
        print("stdout lines for a 1 MB fetch over socket://: %d; SIGTERM ended it in %.1f ms" % (
            len(out.read().splitlines()), ended))


def waited_for():
    port = socket.create_server(("127.0.0.1", 0))
    url = "socket://127.0.0.1:%d" % port.getsockname()[1]
    port.close()  # refused: tried every second
    process = subprocess.Popen(sandboxed([PROGRAM, "--port", url]), stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    Program.running.append(process)
    ticks = lambda: sum(map(int, open("/proc/%d/stat" % process.pid).read().rpartition(")")[2]  # noqa
                            .split()[11:13]))
    time.sleep(1)  # a measuring window, as the 10 s below
    before = ticks()
    time.sleep(10)
    print("socket:// waited for (refused) 10 s: %d CPU ticks" % (ticks() - before))


try:
    compare("socket")
    compare("pty")
    quiet()
    waited_for()
finally:
    Program.end_all()
    WEB.shutdown()
