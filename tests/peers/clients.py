"""Clients for the window's server mode.

Usage: clients.py URL [URL ...]; one connection per URL, opened one after the
other so that they arrive in that order. Reports on stdout:
  OPEN <i> <local port>
  READY                            once every connection is open
  MSG <i> <frame as patterns.describe gives it>
  CLOSED <i> <code>
Commands on stdin, one a line:
  send <i> text <hex of UTF-8>     send <i> binary <hex>
  sendlarge <i> text|binary <n>    a generated frame of n bytes
  close <i>                        close connection i with code 1000
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
    if len(words) < 2:
        return
    ws = sockets[int(words[1])]
    if words[0] == "send" and len(words) == 4:
        data = bytes.fromhex(words[3])
        await ws.send(data.decode("utf-8") if words[2] == "text" else data)
    elif words[0] == "sendlarge" and len(words) == 4:
        size = int(words[3])
        await ws.send(make_text(size) if words[2] == "text" else make_binary(size))
        emit("SENT %s" % words[1])
    elif words[0] == "close":
        await ws.close(code=1000)


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
    emit("DONE")


asyncio.run(main())
