"""SMTP peer for the e-mail notifier tests: a real SMTP server (aiosmtpd) that stores what it gets.

Usage: /usr/bin/python3 smtp_sink.py FOLDER [--refuse-rcpt ADDRESS ...]
           [--cert FILE --key FILE [--starttls | --implicit-tls]] [--auth USER:PASSWORD]

Listens on 127.0.0.1 on a free port and prints "READY <port>" once it accepts connections. For
every HELO it writes FOLDER/helo-<n>.txt (the client's peer port and name); for every message it
writes FOLDER/<n>.data (the DATA content as received, transparency dots removed, closing dot
line excluded) and then FOLDER/<n>.meta ("peer=", "from=", "to=" lines), the .meta file last and
by rename, so that a reader that sees it also sees the data. Recipients named by --refuse-rcpt are
refused with 550. With --starttls the server offers STARTTLS and refuses mail before it; with
--implicit-tls it speaks TLS from the first byte; with --auth it offers AUTH PLAIN and LOGIN (only
inside TLS) and refuses mail without a successful login. Runs until stdin closes or it gets SIGTERM.
"""
import argparse
import os
import signal
import socket
import ssl
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult


class SinkHandler:
    def __init__(self, folder, refused):
        self.folder = folder
        self.refused = set(refused)
        self.lock = threading.Lock()
        self.messages = 0
        self.helos = 0

    def _write(self, name, data):
        temporary = os.path.join(self.folder, name + ".tmp")
        with open(temporary, "wb") as out:
            out.write(data)
        os.rename(temporary, os.path.join(self.folder, name))

    async def handle_HELO(self, server, session, envelope, hostname):
        session.host_name = hostname
        with self.lock:
            self.helos += 1
            number = self.helos
        self._write("helo-%d.txt" % number, ("peer=%d\nname=%s\n" % (session.peer[1], hostname)).encode())
        return "250 %s" % server.hostname

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.refused:
            return "550 5.1.1 mailbox unavailable"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.messages += 1
            number = self.messages
        self._write("%d.data" % number, envelope.original_content)
        meta = "peer=%d\nfrom=%s\nto=%s\n" % (session.peer[1], envelope.mail_from, ",".join(envelope.rcpt_tos))
        self._write("%d.meta" % number, meta.encode())
        return "250 Message accepted"


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--refuse-rcpt", action="append", default=[])
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--starttls", action="store_true")
    parser.add_argument("--implicit-tls", action="store_true")
    parser.add_argument("--auth")
    args = parser.parse_args()
    handler = SinkHandler(args.folder, args.refuse_rcpt)
    port = free_port()
    options = {"decode_data": False}
    context = None
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    if args.starttls:
        options.update(tls_context=context, require_starttls=True)
    if args.implicit_tls:
        options.update(ssl_context=context, server_hostname="127.0.0.1")
    if args.auth:
        user, password = args.auth.split(":", 1)

        def authenticator(server, session, envelope, mechanism, data):
            good = data is not None and data.login == user.encode() and data.password == password.encode()
            return AuthResult(success=good, handled=False)

        options.update(authenticator=authenticator, auth_required=True, auth_require_tls=True)
    controller = Controller(handler, hostname="127.0.0.1", port=port, **options)
    controller.start()
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    threading.Thread(target=lambda: (sys.stdin.read(), stop.set()), daemon=True).start()
    print("READY %d" % port, flush=True)
    stop.wait()
    controller.stop()


if __name__ == "__main__":
    main()
