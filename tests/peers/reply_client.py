"""A client that talks to an auto-replying server.

Usage: reply_client.py URL. Prints "OPEN", then every frame it gets as
"TEXT <the text as a JSON string>" or "BINARY <hex>", and "CLOSED" at the end.
Commands on stdin: "text <payload>", "hex <bytes in hex>" (a binary frame),
"close",
"flood <n> <payload>": n text frames as fast as it can, then "done"; once
"done-ok" comes back it prints "FLOODED <frames got meanwhile> <ms taken>".
"""
import asyncio
import json
import sys
import threading
import time

import websockets

flood = None


def emit(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


async def receive(ws):
    global flood
    try:
        async for message in ws:
            if flood is not None:
                if message == "done-ok":
                    emit("FLOODED %d %d" % (flood[0], (time.monotonic() - flood[1]) * 1000))
                    flood = None
                else:
                    flood[0] += 1
                continue
            if isinstance(message, str):
                emit("TEXT " + json.dumps(message, ensure_ascii=False))
            else:
                emit("BINARY " + bytes(message).hex())
    except websockets.ConnectionClosed:
        pass
    emit("CLOSED")


async def command(ws, line):
    global flood
    word, _, rest = line.rstrip("\n").partition(" ")
    if word == "text":
        await ws.send(rest)
    elif word == "close":
        await ws.close()
    elif word == "hex":
        await ws.send(bytes.fromhex(rest))
    elif word == "flood":
        count, _, payload = rest.partition(" ")
        flood = [0, time.monotonic()]
        for _ in range(int(count)):
            await ws.send(payload)
        await ws.send("done")


def read_stdin(loop, ws):
    for line in sys.stdin:
        asyncio.run_coroutine_threadsafe(command(ws, line), loop)


async def main():
    ws = await websockets.connect(sys.argv[1], max_size=None, ping_interval=None)
    emit("OPEN")
    threading.Thread(target=read_stdin, args=(asyncio.get_running_loop(), ws),
                     daemon=True).start()
    await receive(ws)


asyncio.run(main())
