"""The tests' update server: HTTP on 127.0.0.1 at an ephemeral port, serving a folder; /-/<how>,<how>.../<path>
misbehaves for the file at path: nolength, badlength (no number), hugelength (2**64 - 1), short (half the announced
length), slow (pauses), trickle (a byte a second), stall (the first 4 KiB, then nothing), redirect (to /path), loop (to
itself), cut=N (the first answer for this URL stops after N bytes), drip (the headers a line a second for a minute),
huge (the file, then zeros to 1 GiB, as fast as they go), swap=NAME (every answer for this URL after the first serves
the file NAME beside it); etag or modified (the file's ETag or date, which a new write changes) answers Range "bytes=N-"
with 206 while If-Range matches, unless norange, or badrange (a wrong part); with exe, only update files (*.EXE)
misbehave.
In-process for the end-to-end tests; ctest starts "--daemon --state FILE" (FILE: "<port> <pid>"; FILE_requests.txt
beside it logs each answer as "<path> <Range or -> <status>") and "--stop"."""
import contextlib
import http.server
import os
import signal
import sys
import threading
import time


class UpdateServer:
    def __init__(self, root, log=None):
        self.root = root
        self.log = log
        self.requests = []  # (path, User-Agent) of every request, in order
        self.cut = set()  # the URLs whose first answer was cut
        self.swapped = set()  # the URLs whose first answer was the file itself

    def start(self):
        server = self

        class Handler(UpdateRequestHandler):
            owner = server

        self._http = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._http.daemon_threads = True
        threading.Thread(target=self._http.serve_forever, daemon=True).start()
        return self

    def url(self, path=""):
        return "http://127.0.0.1:%d/%s" % (self._http.server_address[1], path.lstrip("/"))

    def stop(self):
        self._http.shutdown()
        self._http.server_close()


class UpdateRequestHandler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=self.owner.root, **kwargs)

    log_message = lambda self, *args: None  # noqa: E731  quiet

    def send_response(self, code, message=None):
        if self.owner.log:
            with open(self.owner.log, "a") as f:
                f.write("%s %s %d\n" % (self.path, self.headers.get("Range", "-"), code))
        super().send_response(code, message)

    def do_GET(self):
        self.owner.requests.append((self.path, self.headers.get("User-Agent", "")))
        how, _, rest = self.path[3:].partition("/")
        if not self.path.startswith("/-/"):
            return super().do_GET()
        how = dict(word.partition("=")[::2] for word in how.split(","))
        if "exe" in how and not rest.upper().endswith(".EXE"):
            how = {}
        if "redirect" in how or "loop" in how:
            self.send_response(302)
            self.send_header("Location", self.path if "loop" in how else "/" + rest)
            self.send_header("Content-Length", "0")
            return self.end_headers()
        path = self.translate_path("/" + rest)
        if "swap" in how and self.path in self.owner.swapped:
            path = os.path.join(os.path.dirname(path), how["swap"])
        self.owner.swapped.add(self.path)
        with open(path, "rb") as f:
            data = f.read()
        mtime = os.stat(path).st_mtime_ns
        name = ("ETag", '"%x-%x"' % (mtime, len(data))) if "etag" in how else \
            ("Last-Modified", self.date_time_string(mtime // 10**9)) if "modified" in how else None
        wanted = self.headers.get("Range", "")
        start = 0
        if name and "norange" not in how and wanted.startswith("bytes=") and self.headers.get("If-Range") in (None, name[1]):
            start = int(wanted[6:].rstrip("-")) + ("badrange" in how)
        try:
            if "drip" in how:  # the status line now, each header line a second later
                self.wfile.write(b"HTTP/1.0 200 OK\r\n")
                for n in range(60):
                    self.wfile.flush()
                    time.sleep(1)
                    self.wfile.write(b"X-Drip-%d: x\r\n" % n)
                self.wfile.write(b"Content-Length: %d\r\n\r\n" % len(data) + data)
                return
            if "huge" in how:
                self.wfile.write(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % 2**30 + data)
                zeros = bytes(1 << 20)
                for _ in range((2**30 - len(data)) >> 20):
                    self.wfile.write(zeros)
                return
        except (BrokenPipeError, ConnectionResetError):
            return
        self.send_response(206 if start else 200)
        for header in ([name] if name else []) + ([("Content-Range", "bytes %d-%d/%d" % (start, len(data) - 1, len(data)))] if start else []):
            self.send_header(*header)
        data = data[start:]
        if "nolength" not in how:
            self.send_header("Content-Length", "unknown" if "badlength" in how else str(2**64 - 1) if "hugelength" in how else str(len(data)))
        self.end_headers()
        self.close_connection = True
        if "cut" in how and self.path not in self.owner.cut:
            self.owner.cut.add(self.path)
            data = data[:int(how["cut"])]
        size = 1 if "trickle" in how else 1024 if how.keys() & {"slow", "stall"} else 65536
        pieces = [data[: len(data) // 2]] if "short" in how else [data[i:i + size] for i in range(0, len(data), size)]
        try:
            for n, piece in enumerate(pieces):
                if "stall" in how and n == 4:
                    self.wfile.flush()
                    time.sleep(600)  # longer than any test waits
                self.wfile.write(piece)
                if how.keys() & {"slow", "trickle"}:
                    self.wfile.flush()
                    time.sleep(0.02 if "slow" in how else 1)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client went away, as a cancelled download does


def stop(state):
    with contextlib.suppress(OSError, IndexError, ValueError):
        with open(state) as f:
            pid = int(f.read().split()[1])
        os.remove(state)
        os.kill(pid, signal.SIGTERM)


if __name__ == "__main__":
    state = sys.argv[sys.argv.index("--state") + 1]
    stop(state)
    if "--daemon" in sys.argv and os.fork() == 0:
        os.setsid()
        for fd in (0, 1, 2):  # ctest waits for whatever holds its pipes
            os.dup2(os.open(os.devnull, os.O_RDWR), fd)
        root = os.environ.get("ZYN_DRIVE_D") or os.path.join(os.environ["ZYN_BUILD"], "drive_d")
        os.makedirs(root, exist_ok=True)
        log = os.path.splitext(state)[0] + "_requests.txt"
        open(log, "w").close()
        url = UpdateServer(root, log).start().url()
        with open(state + ".new", "w") as f:
            f.write("%s %d\n" % (url.split(":")[2].strip("/"), os.getpid()))
        os.replace(state + ".new", state)
        time.sleep(3600)  # ends by itself should nobody stop it
    elif "--daemon" in sys.argv:
        for _ in range(200):  # back once the server is up, at most 10 s
            time.sleep(0 if os.path.exists(state) else 0.05)
