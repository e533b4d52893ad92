"""python-socketio on aiohttp: prints "PORT <n>", then "CONNECT <nsp>",
"DISCONNECT /", "EVENT <name> <json args>" and, for events with bytes,
"BINARY <name> <hex>". "chat" is echoed to its sender, "ask" acknowledged
with ["ok", <args>]; "/admin" admits only the auth {"token": "secret"}.
Stdin: "question" asks each client for an ack ("ACK <json>"), "binary" sends
"upload" with the bytes 01 02 03.
"""
import asyncio
import json
import sys
import threading

import socketio
from aiohttp import web

sio = socketio.AsyncServer(async_mode="aiohttp")
app = web.Application()
sio.attach(app)


def emit(line):
    print(line, flush=True)


def text(args):
    return json.dumps(list(args), separators=(",", ":"))


@sio.event
async def connect(sid, environ, auth=None):
    emit("CONNECT /")


@sio.event
async def disconnect(sid):
    emit("DISCONNECT /")


@sio.on("chat")
async def chat(sid, *args):
    emit("EVENT chat " + text(args))
    await sio.emit("chat", args[0], to=sid)


@sio.on("ask")
async def ask(sid, *args):
    return "ok", list(args)


@sio.on("*")
async def other(event, sid, *args):
    emit("BINARY %s %s" % (event, "".join(a.hex() for a in args if isinstance(a, bytes))))


@sio.on("connect", namespace="/admin")
async def admin(sid, environ, auth=None):
    if not auth or auth.get("token") != "secret":
        raise socketio.exceptions.ConnectionRefusedError("not authorized")
    emit("CONNECT /admin")


async def command(line):
    if line.strip() == "question":
        await sio.emit("question", {"q": 1}, callback=lambda *a: emit("ACK " + text(a)))
    elif line.strip() == "binary":
        await sio.emit("upload", {"name": "x", "data": b"\x01\x02\x03"})


async def main():
    runner = web.AppRunner(app)
    await runner.setup()
    site = web.TCPSite(runner, "127.0.0.1", 0)
    await site.start()
    emit("PORT %d" % site._server.sockets[0].getsockname()[1])
    loop = asyncio.get_running_loop()
    threading.Thread(target=lambda: [asyncio.run_coroutine_threadsafe(command(l), loop)
                                     for l in sys.stdin], daemon=True).start()
    await asyncio.Future()


asyncio.run(main())
