"""Socket.IO server (python-socketio on aiohttp) for the client's Socket.IO.

Binds 127.0.0.1 on a free port and prints "PORT <n>". Namespace "/" echoes
"chat" back to its sender and answers "ask" acknowledgements with
["ok", <args>]; binary events print "BINARY <event> <hex>". Namespace
"/admin" admits only the auth {"token": "secret"}. Prints "CONNECT <nsp>",
"EVENT <name> <json args>" and "DISCONNECT <nsp>". Commands on stdin:
"question" asks every client of "/" for an acknowledgement ("ACK <json>"
when it comes); "binary" sends "upload" with the bytes 01 02 03.
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
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def args_text(args):
    return json.dumps([a.hex() if isinstance(a, bytes) else a for a in args],
                      separators=(",", ":"))


@sio.event
async def connect(sid, environ, auth=None):
    emit("CONNECT /")


@sio.event
async def disconnect(sid):
    emit("DISCONNECT /")


@sio.on("chat")
async def chat(sid, *args):
    emit("EVENT chat " + args_text(args))
    await sio.emit("chat", args[0] if len(args) == 1 else list(args), to=sid)


@sio.on("ask")
async def ask(sid, *args):
    emit("EVENT ask " + args_text(args))
    return "ok", list(args)


@sio.on("*")
async def other(event, sid, *args):
    if any(isinstance(arg, bytes) for arg in args):
        emit("BINARY %s %s" % (event, "".join(a.hex() for a in args if isinstance(a, bytes))))
    else:
        emit("EVENT %s %s" % (event, args_text(args)))


@sio.on("connect", namespace="/admin")
async def admin_connect(sid, environ, auth=None):
    if not auth or auth.get("token") != "secret":
        raise socketio.exceptions.ConnectionRefusedError("not authorized")
    emit("CONNECT /admin")


@sio.on("disconnect", namespace="/admin")
async def admin_disconnect(sid):
    emit("DISCONNECT /admin")


async def command(line):
    words = line.split()
    if words == ["question"]:
        def answered(*args):
            emit("ACK " + args_text(args))
        await sio.emit("question", {"q": 1}, namespace="/", callback=answered)
    elif words == ["binary"]:
        await sio.emit("upload", {"name": "x", "data": b"\x01\x02\x03"})


def read_stdin(loop):
    for line in sys.stdin:
        asyncio.run_coroutine_threadsafe(command(line), loop)


async def main():
    runner = web.AppRunner(app)
    await runner.setup()
    site = web.TCPSite(runner, "127.0.0.1", 0)
    await site.start()
    emit("PORT %d" % site._server.sockets[0].getsockname()[1])
    threading.Thread(target=read_stdin, args=(asyncio.get_running_loop(),), daemon=True).start()
    await asyncio.Future()


asyncio.run(main())
