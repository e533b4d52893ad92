"""Echo server that records each opening handshake, for client options.

Arguments: [--port N] [--protocols a,b] [--token NAME:VALUE] [--tls CERT KEY]
Prints "PORT <n>", then per request "HEADER <name>: <value>" for every
request header; a request without the token header is refused with 401
("REFUSED 401"); "OPEN <subprotocol or ->" when one is accepted. Each ping
received is printed "PING". Commands on stdin: "mute" stops answering pings,
"close" closes with 1000, "drop" cuts every connection without a close
frame, "stop" stops listening
and closes with 1001, "start" listens again on the same port.
"""
import argparse
import asyncio
import http
import ssl
import sys
import threading

import websockets
from websockets.legacy.server import WebSocketServerProtocol

args = argparse.ArgumentParser()
args.add_argument("--port", type=int, default=0)
args.add_argument("--protocols", default="")
args.add_argument("--token", default="")
args.add_argument("--tls", nargs=2)
options = args.parse_args()
muted = False
server = None


def emit(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


class Protocol(WebSocketServerProtocol):
    async def pong(self, data=b""):
        emit("PING")
        if not muted:
            await super().pong(data)


async def check(path, headers):
    for name, value in headers.raw_items():
        emit("HEADER %s: %s" % (name, value))
    if options.token:
        name, value = options.token.split(":", 1)
        if headers.get(name) != value:
            emit("REFUSED 401")
            return http.HTTPStatus.UNAUTHORIZED, [], b"token required\n"
    return None


async def handler(ws, path=None):
    emit("OPEN " + (ws.subprotocol or "-"))
    try:
        async for message in ws:
            await ws.send(message)
    except websockets.ConnectionClosed:
        pass


async def listen():
    global server
    context = None
    if options.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*options.tls)
    protocols = [p for p in options.protocols.split(",") if p]
    server = await websockets.serve(handler, "127.0.0.1", options.port, ssl=context,
                                    subprotocols=protocols or None, process_request=check,
                                    create_protocol=Protocol)
    options.port = server.sockets[0].getsockname()[1]


async def command(line):
    global muted
    word = line.strip()
    if word == "mute":
        muted = True
    elif word == "close":
        for ws in list(server.websockets):
            await ws.close(1000)
    elif word == "drop":
        for ws in list(server.websockets):
            ws.transport.abort()
    elif word == "stop":
        server.close()
        await server.wait_closed()
        emit("STOPPED")
    elif word == "start":
        await listen()
        emit("STARTED")


def read_stdin(loop):
    for line in sys.stdin:
        asyncio.run_coroutine_threadsafe(command(line), loop)


async def main():
    await listen()
    emit("PORT %d" % options.port)
    threading.Thread(target=read_stdin, args=(asyncio.get_running_loop(),), daemon=True).start()
    await asyncio.Future()


asyncio.run(main())
