"""The benchmark's update server: HTTP on 127.0.0.1, serving a folder at full speed through
sendfile, or at a set rate under /rate=<bytes per second>/<path>. Prints its port, then
serves until killed.   python3 server.py <folder>"""
import http.server
import os
import sys
import time


class Handler(http.server.SimpleHTTPRequestHandler):
    rate = 0
    log_message = lambda self, *args: None  # noqa: E731  quiet

    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=sys.argv[1], **kwargs)

    def do_GET(self):
        first, _, rest = self.path[1:].partition("/")
        if first.startswith("rate="):
            self.rate = int(first[5:])
            self.path = "/" + rest
        super().do_GET()

    def copyfile(self, source, destination):
        destination.flush()
        if not self.rate:
            self.connection.sendfile(source)
            return
        # Paced against the clock since the first byte, so that pauses do not add up.
        start, sent = time.monotonic(), 0
        while True:
            piece = source.read(65536)
            if not piece:
                return
            self.connection.sendall(piece)
            sent += len(piece)
            time.sleep(max(0.0, start + sent / self.rate - time.monotonic()))


if __name__ == "__main__":
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    server.serve_forever()
