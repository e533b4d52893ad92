"""Flood server for the window's client mode.

Usage: flood.py FIRST TOTAL. Binds 127.0.0.1 on a free port and prints
"PORT <n>". To the first connection it sends TOTAL text frames of FRAME_SIZE
bytes, frame k carrying the sequence number k (see payload), as fast as the
socket takes them: FIRST frames, "SENT <FIRST>", then after the stdin line
"more" the rest and "SENT <TOTAL>". It keeps the connection open until the
client closes it, then prints "CLOSED <code>".
"""
import asyncio
import sys
import threading

import websockets

FRAME_SIZE = 40
FRAMES_PER_CHUNK = 20000


def payload(k):
    # Offset by a million so that every number has seven digits.
    text = '{"field1":12.5,"field2":7,"seq":%d}' % (1000000 + k)
    assert len(text) == FRAME_SIZE
    return text.encode("ascii")


def frames(first, end):
    # Server frames go unmasked: FIN + text opcode, then a 7-bit length.
    header = bytes((0x81, FRAME_SIZE))
    return b"".join(header + payload(k) for k in range(first, end))


def emit(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


async def send_range(ws, first, end):
    for start in range(first, end, FRAMES_PER_CHUNK):
        ws.transport.write(frames(start, min(start + FRAMES_PER_CHUNK, end)))
        await ws.drain()


async def main():
    first, total = int(sys.argv[1]), int(sys.argv[2])
    loop = asyncio.get_running_loop()
    more = asyncio.Event()
    served = asyncio.Event()

    def read_stdin():
        for line in sys.stdin:
            if line.strip() == "more":
                loop.call_soon_threadsafe(more.set)

    async def handler(ws, path=None):
        if served.is_set():
            return
        served.set()
        # The frames bypass the protocol object, which sends nothing meanwhile.
        await send_range(ws, 0, first)
        emit("SENT %d" % first)
        await more.wait()
        await send_range(ws, first, total)
        emit("SENT %d" % total)
        await ws.wait_closed()
        emit("CLOSED %s" % ws.close_code)

    threading.Thread(target=read_stdin, daemon=True).start()
    async with websockets.serve(handler, "127.0.0.1", 0, ping_interval=None) as server:
        emit("PORT %d" % server.sockets[0].getsockname()[1])
        await asyncio.Future()


asyncio.run(main())
