# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
"""The benchmarks' stand-in web services: an HTTP server on 127.0.0.1 whose replies a route
builds. serve(port_file, route) writes the port it got to port_file and serves until killed;
route(path) returns (status, body) or (status, body, headers)."""
import http.server


def serve(port_file, route):
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            reply = route(self.path)
            status, body = reply[0], reply[1]
            headers = reply[2] if len(reply) > 2 else {}
            self.send_response(status)
            for name, value in headers.items():
                self.send_header(name, value)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    with open(port_file, "w") as port:
        port.write(str(server.server_port))
    server.serve_forever()
