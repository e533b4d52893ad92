"""Echo server for the window's client mode.

Binds 127.0.0.1 on a free port and prints "PORT <n>" once listening. Every
frame is echoed back in kind and reported on stdout:
  OPEN <path>
  TEXT <hex of the UTF-8 bytes>    or  TEXT-LARGE <bytes> <sha256>
  BINARY <hex>                     or  BINARY-LARGE <bytes> <sha256>
  CLOSED <code>
Commands on stdin, one a line:
  close                close every connection with code 1000
  push text <n>        send every connection a generated text frame of n UTF-8 bytes
  push binary <n>      the same with a generated binary frame
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
    if not words:
        return
    if words[0] == "close":
        for ws in list(connections):
            await ws.close(code=1000)
    elif words[0] == "push" and len(words) == 3:
        size = int(words[2])
        payload = make_text(size) if words[1] == "text" else make_binary(size)
        for ws in list(connections):
            await ws.send(payload)
        emit("PUSHED %d" % size)


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
