"""The tests' update server: HTTP on 127.0.0.1 at an ephemeral port, serving a folder; /-/<how>/<path> misbehaves
for the file at path: nolength, badlength (no number), hugelength (2**64 - 1), short (half the announced length),
slow (pauses), trickle (a byte a second), stall (the first 4 KiB, then nothing), redirect (to /path), loop (to itself).
In-process for the end-to-end tests; ctest starts "--daemon --state FILE" (FILE: "<port> <pid>") and "--stop"."""
import contextlib
import http.server
import os
import signal
import sys
import threading
import time


class UpdateServer:
    def __init__(self, root):
        self.root = root
        self.requests = []  # (path, User-Agent) of every request, in order

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

    def do_GET(self):
        self.owner.requests.append((self.path, self.headers.get("User-Agent", "")))
        how, _, rest = self.path[3:].partition("/")
        if not self.path.startswith("/-/"):
            return super().do_GET()
        if how in ("redirect", "loop"):
            self.send_response(302)
            self.send_header("Location", self.path if how == "loop" else "/" + rest)
            self.send_header("Content-Length", "0")
            return self.end_headers()
        self.send_response(200)
        with open(self.translate_path("/" + rest), "rb") as f:
            data = f.read()
        if how != "nolength":
            self.send_header("Content-Length", {"badlength": "unknown", "hugelength": str(2**64 - 1)}.get(how, str(len(data))))
        self.end_headers()
        self.close_connection = True
        size = 1 if how == "trickle" else 1024
        pieces = [data[: len(data) // 2]] if how == "short" else [data[i:i + size] for i in range(0, len(data), size)]
        try:
            for n, piece in enumerate(pieces):
                if how == "stall" and n == 4:
                    self.wfile.flush()
                    time.sleep(600)  # longer than any test waits
                self.wfile.write(piece)
                if how in ("slow", "trickle"):
                    self.wfile.flush()
                    time.sleep(0.02 if how == "slow" else 1)
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
        url = UpdateServer(root).start().url()
        with open(state + ".new", "w") as f:
            f.write("%s %d\n" % (url.split(":")[2].strip("/"), os.getpid()))
        os.replace(state + ".new", state)
        time.sleep(3600)  # ends by itself should nobody stop it
    elif "--daemon" in sys.argv:
        for _ in range(200):  # back once the server is up, at most 10 s
            time.sleep(0 if os.path.exists(state) else 0.05)
