"""Figures of the serial line over the network against a pty, on this machine (run by hand):
turnaround of a status request, a 200 KB HTTP fetch through the device's socket commands, and the
CPU the program uses while a socket:// line is waited for.
   python3 bench/line_bench.py [ZUNDREL]"""
import http.server
import os
import socket
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from kit import Program, Pty, TcpDevice  # noqa: E402

PROGRAM = sys.argv[1] if len(sys.argv) > 1 else "build/zundrel"
BODY = os.urandom(200 * 1024)


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):  # noqa: N802
        self.send_response(200)
        self.send_header("Content-Length", str(len(BODY)))
        self.end_headers()
        self.wfile.write(BODY)

    def log_message(self, *args):
        pass


def ask(device, request, n):
    device.write(bytes.fromhex(request) if isinstance(request, str) else request)
    got = device.read(n, 10)
    assert len(got) == n, (request, got)
    return got


def figures(name, device):
    ask(device, "01 00 01 02", 6)
    times = []
    for _ in range(200):
        start = time.perf_counter()
        ask(device, "02 00 01 01", 5)
        times.append((time.perf_counter() - start) * 1e6)
    web = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=web.serve_forever, daemon=True).start()
    port = web.server_address[1]
    ask(device, "11 00 01 01", 5)
    ask(device, bytes.fromhex("11 00 12 03 00 00 02") + port.to_bytes(2, "little") +
        bytes([127, 0, 0, 1]) + bytes(8), 6)
    get = b"GET / HTTP/1.0\r\n\r\n"
    ask(device, bytes([0x11, 0, len(get) + 2, 0x0E, 0]) + get, 6)
    start, received = time.perf_counter(), 0
    while received < len(BODY):
        head = ask(device, "11 00 03 0F 00 7F", 6)
        received += 0 if head[5] == 0xFF else head[5]
        head[5] != 0xFF and ask(device, b"", head[5])
    seconds = time.perf_counter() - start
    web.shutdown()
    print("%-10s status turnaround median %.0f us (p90 %.0f us); 200 KB fetch %.0f KB/s" % (
        name, statistics.median(times), sorted(times)[179], len(BODY) / 1024 / seconds))


def main():
    pty = Pty()
    h = Program(PROGRAM, "--port", pty.path)
    h.wait("box")  # open
    figures("pty", pty)
    h.end()
    server = socket.create_server(("127.0.0.1", 0))
    h = Program(PROGRAM, "--port", "socket://127.0.0.1:%d" % server.getsockname()[1])
    device = TcpDevice(server.accept()[0])
    h.wait("box"), h.wait("box")  # opening, connected
    figures("socket://", device)
    h.end()
    port = server.getsockname()[1]
    server.close()
    h = Program(PROGRAM, "--port", "socket://127.0.0.1:%d" % port)  # refused: tried every second
    ticks = lambda: sum(map(int, open("/proc/%d/stat" % h.process.pid).read().rpartition(")")[2]  # noqa
                            .split()[11:13]))
    time.sleep(1)
    before = ticks()
    time.sleep(10)
    print("socket:// waited for (refused) 10 s: %d CPU ticks" % (ticks() - before))
    h.events.clear()
    Program.end_all()


try:
    main()
finally:
    Program.end_all()
