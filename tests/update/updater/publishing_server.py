# Serves a folder on 127.0.0.1 (a port the kernel picks) the way "python3 -m http.server" does, and says so on
# its first line in the same words. Files named on the command line as NAME=BYTES are announced with a
# Content-Length that many bytes short of their size, and sent only that far: a broken server.
#     python3 publishing_server.py FOLDER [NAME=BYTES ...]
import functools
import http.server
import io
import os
import sys

root = sys.argv[1]
short = dict(argument.split("=", 1) for argument in sys.argv[2:])


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def send_head(self):
        name = self.path.split("?", 1)[0].lstrip("/")
        if name not in short:
            return super().send_head()
        with open(os.path.join(root, name), "rb") as published:
            data = published.read()
        data = data[: max(0, len(data) - int(short[name]))]
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        return io.BytesIO(data)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Handler, directory=root))
print(f"Serving HTTP on 127.0.0.1 port {server.server_address[1]}", flush=True)
try:
    server.serve_forever()
except KeyboardInterrupt:
    pass
