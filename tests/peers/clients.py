"""Clients for the window's server mode.

Usage: clients.py URL [URL ...]; one connection per URL, opened in that order.
Prints "OPEN <i> <local port>" for each, then "READY"; then "MSG <i> <frame as
patterns.describe gives it>" and "CLOSED <i> <code>". Commands on stdin:
"close <i>" closes connection i with 1000; "sendlarge <i> text|binary <n>"
sends a generated frame; "send <i> <text>" sends the text in a text frame.
"""
import asyncio
import sys
import threading

import websockets

from patterns import describe, make_binary, make_text

sockets = []


def emit(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


async def receive(i, ws):
    try:
        async for message in ws:
            emit("MSG %d %s" % (i, describe(message)))
    except websockets.ConnectionClosed:
        pass
    await ws.wait_closed()
    emit("CLOSED %d %s" % (i, ws.close_code))


async def command(line):
    words = line.split()
    if len(words) == 2 and words[0] == "close":
        await sockets[int(words[1])].close(code=1000)
    elif len(words) >= 3 and words[0] == "send":
        await sockets[int(words[1])].send(line.split(None, 2)[2].rstrip("\n"))
    elif len(words) == 4 and words[0] == "sendlarge":
        size = int(words[3])
        payload = make_text(size) if words[2] == "text" else make_binary(size)
        await sockets[int(words[1])].send(payload)


def read_stdin(loop):
    for line in sys.stdin:
        asyncio.run_coroutine_threadsafe(command(line), loop)


async def main():
    loop = asyncio.get_running_loop()
    tasks = []
    for i, url in enumerate(sys.argv[1:]):
        ws = await websockets.connect(url, max_size=None, ping_interval=None)
        sockets.append(ws)
        emit("OPEN %d %d" % (i, ws.local_address[1]))
        tasks.append(asyncio.create_task(receive(i, ws)))
    emit("READY")
    threading.Thread(target=read_stdin, args=(loop,), daemon=True).start()
    await asyncio.gather(*tasks)


asyncio.run(main())
