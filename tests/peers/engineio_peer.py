"""A Socket.IO server spoken by hand over python websockets, for what
python-socketio does not serve: Engine.IO 3 (Socket.IO 2 servers, where the
client pings) and a server that stops pinging.

  engineio_peer.py EIO INTERVAL_MS TIMEOUT_MS [silent]

Binds 127.0.0.1 on a free port and prints "PORT <n>", then "OPEN <query>".
Sends the open packet; Engine.IO 3 joins "/" at once and answers the
client's "2" with "3" ("PING"), Engine.IO 4 pings every INTERVAL_MS and
prints "PONG" per answer. "silent": no pings (4) or no answers to them (3).
Namespace connects are accepted; every other text frame prints "TEXT <frame>",
binary frames "BINARY <hex>". "send <frame>" on stdin sends a text frame,
"sendbin <hex>" a binary one.
"""
import asyncio
import json
import sys
import threading

import websockets

eio = sys.argv[1]
interval = int(sys.argv[2])
timeout = int(sys.argv[3])
silent = len(sys.argv) > 4 and sys.argv[4] == "silent"
connections = set()


def emit(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


async def pinger(ws):
    while True:
        await asyncio.sleep(interval / 1000)
        await ws.send("2")


async def handler(ws, path=None):
    connections.add(ws)
    path = path if path is not None else ws.path
    emit("OPEN " + path.partition("?")[2])
    await ws.send("0" + json.dumps({"sid": "engine-sid", "upgrades": [],
                                    "pingInterval": interval, "pingTimeout": timeout}))
    task = None
    if eio == "3":
        await ws.send("40")
    elif not silent:
        task = asyncio.ensure_future(pinger(ws))
    try:
        async for frame in ws:
            if isinstance(frame, bytes):
                emit("BINARY " + frame.hex())
            elif frame == "2" and eio == "3":
                emit("PING")
                if not silent:
                    await ws.send("3")
            elif frame == "3" and eio == "4":
                emit("PONG")
            elif frame.startswith("40"):
                emit("TEXT " + frame)
                nsp = frame[2:].partition(",")[0] if frame[2:3] == "/" else ""
                head = "40" + (nsp + "," if nsp else "")
                await ws.send(head if eio == "3" else head + '{"sid":"nsp-sid"}')
            else:
                emit("TEXT " + frame)
    except websockets.ConnectionClosed:
        pass
    finally:
        if task:
            task.cancel()
        connections.discard(ws)
        emit("CLOSED")


async def command(line):
    word, _, rest = line.rstrip("\n").partition(" ")
    for ws in list(connections):
        if word == "send":
            await ws.send(rest)
        elif word == "sendbin":
            await ws.send(bytes.fromhex(rest))


def read_stdin(loop):
    for line in sys.stdin:
        asyncio.run_coroutine_threadsafe(command(line), loop)


async def main():
    loop = asyncio.get_running_loop()
    async with websockets.serve(handler, "127.0.0.1", 0) as server:
        emit("PORT %d" % server.sockets[0].getsockname()[1])
        threading.Thread(target=read_stdin, args=(loop,), daemon=True).start()
        await asyncio.Future()


asyncio.run(main())
