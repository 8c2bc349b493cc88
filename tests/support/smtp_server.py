#!/usr/bin/python3
"""An SMTP server for the mail tests and benchmarks, on aiosmtpd.

Listens on 127.0.0.1 (a free port unless --port is given), prints
"PORT <n>" when ready and serves until its standard input ends.  The line
"release" on standard input lets held messages (--hold) through, and "hold"
holds the following ones again.

Each accepted message is stored in the --state folder as <n>.eml (its exact
bytes) and <n>.json (envelope, log-in and TLS state), the JSON written last;
the file "connections" counts the connections accepted.
"""
import argparse
import asyncio
import json
import logging
import os
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult


def parse_args():
    parser = argparse.ArgumentParser()
    parser.add_argument("--state", required=True)
    parser.add_argument("--mode", choices=["plain", "starttls", "tls", "silent"], default="plain")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--auth", help="USER:PASSWORD accepted by AUTH; AUTH is offered only with it")
    parser.add_argument("--mechanisms", default="LOGIN,PLAIN", help="AUTH mechanisms offered")
    parser.add_argument("--refuse-login", action="store_true", help="refuse every AUTH")
    parser.add_argument("--refuse-recipient", action="store_true", help="550 to every RCPT")
    parser.add_argument("--reject-data", action="store_true", help="554 after the message data")
    parser.add_argument("--hold", action="store_true", help="answer DATA only after 'release'")
    parser.add_argument("--drop-reused", action="store_true",
                        help="drop the connection at the second MAIL of a session")
    return parser.parse_args()


class Recorder:
    def __init__(self, args, released):
        self.args = args
        self.released = released
        self.count = 0
        self.connections = 0

    def _write(self, name, data):
        path = os.path.join(self.args.state, name)
        with open(path + ".tmp", "wb") as f:
            f.write(data)
        os.replace(path + ".tmp", path)

    def connected(self):
        self.connections += 1
        self._write("connections", str(self.connections).encode())

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        if not self.args.auth:
            responses = [r for r in responses if not r[4:].startswith("AUTH")]
        return responses

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if self.args.drop_reused and getattr(session, "delivered", 0) > 0:
            server.transport.abort()
            return "421 closing"
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.args.refuse_recipient:
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        await self.released.wait()
        if self.args.reject_data:
            return "554 5.7.1 Message rejected"
        session.delivered = getattr(session, "delivered", 0) + 1
        self.count += 1
        n = self.count
        tls = session.ssl is not None or server.transport.get_extra_info("ssl_object") is not None
        self._write(f"{n}.eml", envelope.original_content)
        self._write(f"{n}.json", json.dumps({
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "authenticated": bool(session.authenticated),
            "login": getattr(session, "login", ""),
            "mechanism": getattr(session, "mechanism", ""),
            "tls": tls,
        }).encode())
        return "250 OK queued"


def authenticator(args):
    user, _, password = (args.auth or ":").partition(":")

    def check(server, session, envelope, mechanism, auth_data):
        login = auth_data.login.decode("utf-8", "replace")
        session.login = login
        session.mechanism = mechanism
        ok = (not args.refuse_login and login == user
              and auth_data.password.decode("utf-8", "replace") == password)
        # Not handled here: aiosmtpd answers 235 or 535 itself.
        return AuthResult(success=ok, handled=False)
    return check


def context(args):
    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ctx.load_cert_chain(args.cert, args.key)
    return ctx


async def main():
    args = parse_args()
    # aiosmtpd warns about AUTH without TLS and deprecated fields; the tests
    # choose those set-ups on purpose.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    loop = asyncio.get_running_loop()
    released = asyncio.Event()
    if not args.hold:
        released.set()
    recorder = Recorder(args, released)
    mechanisms = set(args.mechanisms.split(","))
    implicit = args.mode == "tls"

    def factory():
        recorder.connected()
        return SMTP(
            recorder,
            hostname="test.smtp",
            tls_context=context(args) if args.mode == "starttls" else None,
            require_starttls=args.mode == "starttls",
            auth_required=bool(args.auth),
            # Implicit TLS is invisible to aiosmtpd: AUTH is offered only
            # when it does not ask for STARTTLS first.
            auth_require_tls=args.mode == "starttls",
            auth_exclude_mechanism=[m for m in ("LOGIN", "PLAIN") if m not in mechanisms],
            authenticator=authenticator(args),
            timeout=60,
            loop=loop,
        )

    held = []

    async def silent(reader, writer):
        recorder.connected()
        held.append(writer)

    if args.mode == "silent":
        server = await asyncio.start_server(silent, "127.0.0.1", args.port)
    else:
        server = await loop.create_server(factory, "127.0.0.1", args.port,
                                          ssl=context(args) if implicit else None)
    port = server.sockets[0].getsockname()[1]
    print(f"PORT {port}", flush=True)

    done = asyncio.Event()

    pending = b""

    def on_input():
        # Several commands may arrive in one read.
        nonlocal pending
        data = os.read(sys.stdin.fileno(), 4096)
        if not data:
            done.set()
            return
        pending += data
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            if line.strip() == b"release":
                released.set()
            elif line.strip() == b"hold":
                released.clear()

    loop.add_reader(sys.stdin.fileno(), on_input)
    await done.wait()
    server.close()
    # Every message is on disk by now.  Ending here spares the wait for the
    # sessions that clients keep open (asyncio would cancel each handler and
    # let it close its connection politely).
    os._exit(0)


if __name__ == "__main__":
    asyncio.run(main())
