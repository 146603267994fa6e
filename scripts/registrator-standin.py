#!/usr/bin/env python3
"""A stand-in for the registrator service, for the demo: answers the program's two
requests on 127.0.0.1 with 200 "OK" and prints each request. It registers nothing.
Usage: registrator-standin.py <port file>  (writes the port it listens on, then serves
for at most ten minutes)."""
import http.server
import sys
import threading


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        ok = self.path.startswith("/?ext=") or self.path == "/unregall"
        body = b"OK" if ok else b"Not found"
        self.send_response(200 if ok else 404)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        print(f"  registrator stand-in: GET {self.path} -> {'200 OK' if ok else '404'}", flush=True)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
with open(sys.argv[1], "w") as f:
    f.write(str(server.server_address[1]))
threading.Timer(600, server.shutdown).start()
server.serve_forever()
