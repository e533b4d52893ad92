"""Socket.IO by hand over python websockets, for what python-socketio does
not serve: Engine.IO 3 (Socket.IO 2, the client pings) and a server that
stops pinging.  engineio_peer.py EIO INTERVAL_MS TIMEOUT_MS [silent]

Prints "PORT <n>", "OPEN <query>", "PING" per client ping (3, answered unless
silent), "PONG" per answer to its pings (4, sent unless silent), "TEXT <frame>"
and "BINARY <hex>". Accepts every namespace; Engine.IO 3 joins "/" at once.
Stdin: "send <frame>" and "sendbin <hex>".
"""
import asyncio
import json
import sys
import threading

import websockets

eio, interval, timeout = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
silent = sys.argv[4:] == ["silent"]
connections = set()


def emit(line):
    print(line, flush=True)


async def pinger(ws):
    while True:
        await asyncio.sleep(interval / 1000)
        await ws.send("2")


async def handler(ws, path=None):
    connections.add(ws)
    emit("OPEN " + (path if path is not None else ws.path).partition("?")[2])
    await ws.send("0" + json.dumps({"sid": "engine-sid", "upgrades": [],
                                    "pingInterval": interval, "pingTimeout": timeout}))
    if eio == "3":
        await ws.send("40")
    task = asyncio.ensure_future(pinger(ws)) if eio == "4" and not silent else None
    try:
        async for frame in ws:
            if isinstance(frame, bytes):
                emit("BINARY " + frame.hex())
            elif frame in ("2", "3"):
                emit("PING" if frame == "2" else "PONG")
                if frame == "2" and not silent:
                    await ws.send("3")
            else:
                emit("TEXT " + frame)
                if frame.startswith("40"):
                    nsp = frame[2:].partition(",")[0] if frame[2:3] == "/" else ""
                    head = "40" + (nsp + "," if nsp else "")
                    await ws.send(head if eio == "3" else head + '{"sid":"nsp-sid"}')
    except websockets.ConnectionClosed:
        pass
    finally:
        if task:
            task.cancel()
        connections.discard(ws)


async def command(line):
    word, _, rest = line.rstrip("\n").partition(" ")
    for ws in list(connections):
        await ws.send(rest if word == "send" else bytes.fromhex(rest))


async def main():
    loop = asyncio.get_running_loop()
    async with websockets.serve(handler, "127.0.0.1", 0) as server:
        emit("PORT %d" % server.sockets[0].getsockname()[1])
        threading.Thread(target=lambda: [asyncio.run_coroutine_threadsafe(command(l), loop)
                                         for l in sys.stdin], daemon=True).start()
        await asyncio.Future()


asyncio.run(main())
