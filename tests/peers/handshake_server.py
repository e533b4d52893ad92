"""Echo server printing "PORT <n>", each request header ("HEADER <name>: <value>"),
"REFUSED 401" without the --token header, "OPEN <subprotocol or ->" and "PING"
per ping. Commands on stdin: mute (pings unanswered), close (1000), drop (no
close frame), stop (stop listening, closing with 1001), start (listen again).
--close CODE closes every connection with CODE as soon as it is open."""
import argparse
import asyncio
import http
import ssl
import sys
import threading

import websockets
from websockets.legacy.server import WebSocketServerProtocol

args = argparse.ArgumentParser()
args.add_argument("--protocols", default="")
args.add_argument("--token", default="")
args.add_argument("--tls", nargs=2)
args.add_argument("--close", type=int, default=0)
options = args.parse_args()
port, muted, server = 0, False, None


class Protocol(WebSocketServerProtocol):
    async def pong(self, data=b""):
        print("PING")
        if not muted:
            await super().pong(data)


async def check(path, headers):
    for name, value in headers.raw_items():
        print("HEADER %s: %s" % (name, value))
    name, _, value = options.token.partition(":")
    if name and headers.get(name) != value:
        print("REFUSED 401")
        return http.HTTPStatus.UNAUTHORIZED, [], b"token required\n"


async def echo(ws, path=None):
    print("OPEN " + (ws.subprotocol or "-"))
    if options.close:
        return await ws.close(options.close, "closing at once")
    try:
        async for message in ws:
            await ws.send(message)
    except websockets.ConnectionClosed:
        pass


async def listen():
    global server, port
    tls = None
    if options.tls:
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(*options.tls)
    protocols = [p for p in options.protocols.split(",") if p] or None
    server = await websockets.serve(echo, "127.0.0.1", port, ssl=tls, subprotocols=protocols,
                                    process_request=check, create_protocol=Protocol)
    port = server.sockets[0].getsockname()[1]


async def command(word):
    global muted
    if word == "mute":
        muted = True
    elif word in ("close", "drop"):
        for ws in list(server.websockets):
            await ws.close(1000) if word == "close" else ws.transport.abort()
    elif word == "stop":
        server.close()
    elif word == "start":
        await listen()


async def main():
    await listen()
    print("PORT %d" % port)
    loop = asyncio.get_running_loop()
    threading.Thread(target=lambda: [asyncio.run_coroutine_threadsafe(command(line.strip()), loop)
                                     for line in sys.stdin], daemon=True).start()
    await asyncio.Future()


asyncio.run(main())
