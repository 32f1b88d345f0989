"""The update server of the tests: a real HTTP server on 127.0.0.1 with an ephemeral
port, serving a folder laid out as the program expects (FixDirUrl is any folder
under it: Ver files, update files).

Under /-/ it also misbehaves on demand, for the file at the rest of the path:

    /-/status/<code>/<path>   answers <code> (404, 500, ...) with a short body
    /-/nolength/<path>        the file without a Content-Length header
    /-/badlength/<path>       the file with a Content-Length that is no number
    /-/short/<path>           announces the file's length, sends half, closes
    /-/slow/<path>            the file in 1 KiB pieces with a pause after each
    /-/redirect/<path>        302 to /<path>
    /-/agent                  the request's User-Agent as the body

Two more ports go with it: closed_port, bound but never listening, so a connection
is refused ("unreachable"); and probe_port, which records whether the first bytes a
client sends there are a TLS handshake or plain HTTP (read back at /-/probe).

Used in-process (UpdateServer) by the end-to-end tests, and as a background process
by the unit tests:

    update_server.py --daemon --state FILE [--root DIR]   start; FILE gets port=, closed_port=,
                                                          probe_port=, pid= lines
    update_server.py --stop --state FILE                  stop the one FILE names
"""
import argparse
import http.server
import os
import signal
import socket
import sys
import threading
import time

SLOW_PIECE = 1024
SLOW_PAUSE = 0.02


class UpdateServer:
    def __init__(self, root):
        self.root = root
        self.requests = []  # (path, User-Agent) of every request, in order
        self.probe_seen = []  # "tls" or "http" for every connection to probe_port
        self._http = None
        self._closed = None
        self._probe = None
        self._threads = []

    def start(self):
        server = self

        class Handler(UpdateRequestHandler):
            owner = server

        self._http = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._http.daemon_threads = True
        self._closed = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._closed.bind(("127.0.0.1", 0))
        self._probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._probe.bind(("127.0.0.1", 0))
        self._probe.listen(8)
        for target in (self._http.serve_forever, self._serve_probe):
            thread = threading.Thread(target=target, daemon=True)
            thread.start()
            self._threads.append(thread)
        return self

    @property
    def port(self):
        return self._http.server_address[1]

    @property
    def closed_port(self):
        return self._closed.getsockname()[1]

    @property
    def probe_port(self):
        return self._probe.getsockname()[1]

    def url(self, path=""):
        return "http://127.0.0.1:%d/%s" % (self.port, path.lstrip("/"))

    def agents(self):
        return [agent for _, agent in self.requests]

    def stop(self):
        self._http.shutdown()
        self._http.server_close()
        self._closed.close()
        self._probe.close()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def _serve_probe(self):
        while True:
            try:
                connection, _ = self._probe.accept()
            except OSError:
                return
            with connection:
                connection.settimeout(5)
                try:
                    first = connection.recv(5)
                except OSError:
                    first = b""
                # A TLS record starts with content type 22 (handshake).
                self.probe_seen.append("tls" if first[:1] == b"\x16" else "http" if first else "none")


class UpdateRequestHandler(http.server.SimpleHTTPRequestHandler):
    owner = None  # the UpdateServer, set per server

    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=self.owner.root, **kwargs)

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.owner.requests.append((self.path, self.headers.get("User-Agent", "")))
        if not self.path.startswith("/-/"):
            return super().do_GET()
        words = self.path[3:].split("/", 1)
        behaviour, rest = words[0], (words[1] if len(words) > 1 else "")
        try:
            if behaviour == "status":
                code, _, _ = rest.partition("/")
                self.send_body(int(code), b"<html>status %s</html>" % code.encode())
            elif behaviour == "agent":
                self.send_body(200, self.headers.get("User-Agent", "").encode("latin-1"))
            elif behaviour == "probe":
                self.send_body(200, " ".join(self.owner.probe_seen).encode())
            elif behaviour == "redirect":
                self.send_response(302)
                self.send_header("Location", "/" + rest)
                self.send_header("Content-Length", "0")
                self.end_headers()
            elif behaviour in ("nolength", "badlength", "short", "slow"):
                self.send_file(rest, behaviour)
            else:
                self.send_error(400, "unknown behaviour")
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client went away, as a cancelled download does

    def send_body(self, code, body):
        self.send_response(code)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def send_file(self, rest, behaviour):
        path = self.translate_path("/" + rest)
        if not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, "rb") as f:
            data = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if behaviour == "badlength":
            self.send_header("Content-Length", "unknown")
        elif behaviour != "nolength":
            self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if behaviour == "short":
            self.wfile.write(data[: len(data) // 2])
        elif behaviour == "slow":
            for start in range(0, len(data), SLOW_PIECE):
                self.wfile.write(data[start:start + SLOW_PIECE])
                self.wfile.flush()
                time.sleep(SLOW_PAUSE)
        else:
            self.wfile.write(data)
        self.close_connection = True


def default_root():
    if os.environ.get("ZYN_DRIVE_D"):
        return os.environ["ZYN_DRIVE_D"]
    return os.path.join(os.environ["ZYN_BUILD"], "drive_d")


def run_in_background(root, state, lifetime):
    """Starts a detached server process and returns once its state file is written."""
    stop(state)
    if os.fork():
        deadline = time.time() + 10
        while not os.path.exists(state):
            if time.time() > deadline:
                sys.exit("update server did not start")
            time.sleep(0.05)
        return
    os.setsid()
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)
    os.makedirs(root, exist_ok=True)
    server = UpdateServer(root).start()
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    with open(state + ".new", "w") as f:
        f.write("port=%d\nclosed_port=%d\nprobe_port=%d\npid=%d\n"
                % (server.port, server.closed_port, server.probe_port, os.getpid()))
    os.replace(state + ".new", state)
    # Ends by itself should nobody stop it.
    time.sleep(lifetime)
    os._exit(0)


def stop(state):
    try:
        with open(state) as f:
            values = dict(line.strip().split("=", 1) for line in f if "=" in line)
        os.remove(state)
        pid = int(values["pid"])
        # Only the server itself, not whatever process got its number since.
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            if os.path.basename(__file__).encode() in f.read():
                os.kill(pid, signal.SIGTERM)
    except (OSError, KeyError, ValueError):
        pass


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--daemon", action="store_true")
    parser.add_argument("--stop", action="store_true")
    parser.add_argument("--state", required=True)
    parser.add_argument("--root")
    parser.add_argument("--lifetime", type=float, default=3600)
    options = parser.parse_args()
    if options.stop:
        stop(options.state)
    elif options.daemon:
        run_in_background(options.root or default_root(), options.state, options.lifetime)
    else:
        parser.error("--daemon or --stop")


if __name__ == "__main__":
    main()
