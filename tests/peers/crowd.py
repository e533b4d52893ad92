"""Many clients at once for the window's server mode.

Usage: crowd.py URL N. Opens N connections at once. Prints "OPEN <i>" per
upgrade, "FAILED <i>" when one cannot connect, "CLOSED <i> <code>" when the
server closes one, and "SETTLED" once every attempt of the wave has opened or
failed. Commands on stdin: "leave K" closes K open connections with 1000;
"more M" opens a wave of M more.
"""
import asyncio
import sys
import threading

import websockets

sockets = {}
counter = 0


def emit(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


async def one(i, url):
    try:
        ws = await websockets.connect(url, open_timeout=30, ping_interval=None)
    except Exception:
        emit("FAILED %d" % i)
        return
    emit("OPEN %d" % i)
    sockets[i] = ws
    await ws.wait_closed()
    if sockets.pop(i, None) is not None:
        emit("CLOSED %d %s" % (i, ws.close_code))


async def wave(url, n):
    global counter
    first = counter
    counter += n
    tasks = [asyncio.create_task(one(i, url)) for i in range(first, first + n)]
    while not all(t.done() or i in sockets for i, t in zip(range(first, first + n), tasks)):
        await asyncio.sleep(0.05)
    emit("SETTLED")


async def command(url, line):
    words = line.split()
    if len(words) == 2 and words[0] == "leave":
        chosen = [i for i, ws in sockets.items() if ws.open][: int(words[1])]
        for i in chosen:
            ws = sockets.pop(i)
            await ws.close(code=1000)
    elif len(words) == 2 and words[0] == "more":
        await wave(url, int(words[1]))


def read_stdin(loop, url):
    for line in sys.stdin:
        asyncio.run_coroutine_threadsafe(command(url, line), loop)


async def main():
    url, n = sys.argv[1], int(sys.argv[2])
    threading.Thread(target=read_stdin, args=(asyncio.get_running_loop(), url),
                     daemon=True).start()
    await wave(url, n)
    await asyncio.Future()


asyncio.run(main())
