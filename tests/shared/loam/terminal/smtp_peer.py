"""SMTP server (aiosmtpd) on 127.0.0.1 for the line-protocol client's tests.

Prints "PORT <n>" once it listens, then one "MESSAGE ..." line per accepted
message, followed by the message's lines each prefixed with "| ".
"""
import asyncio

from aiosmtpd.smtp import SMTP


class Handler:
    async def handle_DATA(self, server, session, envelope):
        text = envelope.content.decode("utf-8", "replace")
        print("MESSAGE from=%s to=%s" % (envelope.mail_from, ",".join(envelope.rcpt_tos)),
              flush=True)
        for line in text.splitlines():
            print("| " + line, flush=True)
        print("END", flush=True)
        return "250 Message accepted for delivery"


async def main():
    loop = asyncio.get_running_loop()
    server = await loop.create_server(
        lambda: SMTP(Handler(), hostname="peer.test", auth_require_tls=False),
        "127.0.0.1", 0)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


asyncio.run(main())
