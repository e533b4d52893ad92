"""Echo server for the window's client mode.

Binds 127.0.0.1 on a free port and prints "PORT <n>", then per connection
"OPEN <path>", each frame as patterns.describe gives it (echoed back in kind)
and "CLOSED <code>". Commands on stdin: "close" closes every connection with
1000; "push text|binary <n>" sends every connection a generated frame;
"partial" sends the header and the first bytes of a frame, and no more.
"""
import asyncio
import sys
import threading

import websockets

from patterns import describe, make_binary, make_text

connections = set()


def emit(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


async def handler(ws, path=None):
    connections.add(ws)
    emit("OPEN " + (path if path is not None else ws.path))
    try:
        async for message in ws:
            emit(describe(message))
            await ws.send(message)
    except websockets.ConnectionClosed:
        pass
    finally:
        connections.discard(ws)
        await ws.wait_closed()
        emit("CLOSED %s" % ws.close_code)


async def command(line):
    words = line.split()
    if words == ["close"]:
        for ws in list(connections):
            await ws.close(code=1000)
    elif words == ["partial"]:
        for ws in list(connections):
            # A 4096-byte binary frame of which only 100 bytes ever come.
            ws.transport.write(b"\x82\x7e\x10\x00" + bytes(100))
    elif len(words) == 3 and words[0] == "push":
        size = int(words[2])
        payload = make_text(size) if words[1] == "text" else make_binary(size)
        for ws in list(connections):
            await ws.send(payload)


def read_stdin(loop):
    for line in sys.stdin:
        asyncio.run_coroutine_threadsafe(command(line), loop)


async def main():
    loop = asyncio.get_running_loop()
    async with websockets.serve(handler, "127.0.0.1", 0, max_size=None) as server:
        emit("PORT %d" % server.sockets[0].getsockname()[1])
        threading.Thread(target=read_stdin, args=(loop,), daemon=True).start()
        await asyncio.Future()


asyncio.run(main())
