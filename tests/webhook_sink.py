"""HTTP peer for the webhook notifier tests: a plain HTTP (or HTTPS) server that keeps every POST.

Usage: /usr/bin/python3 webhook_sink.py LOG [--port N] [--status CODE] [--token TOKEN]
           [--basic USER:PASSWORD] [--cert FILE --key FILE]

Listens on 127.0.0.1 (port N, or a free one) and prints "READY <port>" once it accepts
connections. Every POST is appended to LOG as one JSON line {"path", "authorization",
"content_type", "body"} (the body as text), the line flushed before the answer goes out, and
answered with CODE (default 200). With --token or --basic a request without that Authorization is
answered 401 and logged all the same. Runs until it gets SIGTERM.
"""
import argparse
import base64
import json
import signal
import ssl
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("log")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--status", type=int, default=200)
    parser.add_argument("--token")
    parser.add_argument("--basic")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    options = parser.parse_args()
    expected = None
    if options.token:
        expected = "Bearer " + options.token
    elif options.basic:
        expected = "Basic " + base64.b64encode(options.basic.encode()).decode()
    lock = threading.Lock()

    class Handler(BaseHTTPRequestHandler):
        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            body = self.rfile.read(length).decode("utf-8", "replace")
            authorization = self.headers.get("Authorization", "")
            entry = {"path": self.path, "authorization": authorization,
                     "content_type": self.headers.get("Content-Type", ""), "body": body}
            with lock, open(options.log, "a", encoding="utf-8") as out:
                out.write(json.dumps(entry) + "\n")
            status = options.status
            if expected is not None and authorization != expected:
                status = 401
            answer = b"ok" if status < 300 else b"refused"
            self.send_response(status)
            self.send_header("Content-Length", str(len(answer)))
            self.end_headers()
            self.wfile.write(answer)

        def log_message(self, *args):
            pass

    server = ThreadingHTTPServer(("127.0.0.1", options.port), Handler)
    if options.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(options.cert, options.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    signal.signal(signal.SIGTERM, lambda *args: threading.Thread(target=server.shutdown).start())
    print("READY %d" % server.server_address[1], flush=True)
    server.serve_forever()
    return 0


if __name__ == "__main__":
    sys.exit(main())
