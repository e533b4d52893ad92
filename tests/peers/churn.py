"""Waves of clients for the window's server mode.

Usage: churn.py URL WAVES SIZE. Opens WAVES waves of SIZE connections to URL.
While wave k+1 opens, wave k closes in a shuffled order, each one once its
successor is open; every third connection is dropped abruptly (transport
abort), the rest are closed with 1000. The last wave closes alone.
Prints "OPEN <i> <local port>" per connection, "GONE <i>" once connection i
is closed, "WAVE <k>" once wave k is open and "DONE" at the end.
"""
import asyncio
import random
import sys

import websockets

# Openings of a wave in flight at once; a handshake with the window takes
# about 40 ms (delayed acknowledgement), so one at a time would be slow.
CHAINS = 5

# Fixed, so that a failing order can be replayed.
shuffle = random.Random(8).shuffle


def emit(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


async def open_one(url, i):
    ws = await websockets.connect(url, ping_interval=None)
    emit("OPEN %d %d" % (i, ws.local_address[1]))
    return i, ws


async def close_one(i, ws, abrupt):
    if abrupt:
        ws.transport.abort()
    else:
        await ws.close(code=1000)
    await ws.wait_closed()
    emit("GONE %d" % i)


async def replace_wave(url, k, size, old):
    # New connections arrive a few at a time; old connection n leaves as
    # soon as new connection n has arrived, so the server sees arrivals and
    # departures interleaved, several of each in flight at once.
    order = list(old)
    shuffle(order)
    opening = []

    async def arrive(n):
        if n >= CHAINS:
            await opening[n - CHAINS]
        return await open_one(url, k * size + n)

    for n in range(size):
        opening.append(asyncio.create_task(arrive(n)))

    async def leave(n, i, ws):
        await opening[n]
        await close_one(i, ws, n % 3 == 0)

    await asyncio.gather(*(leave(n, i, ws) for n, (i, ws) in enumerate(order)))
    wave = await asyncio.gather(*opening)
    emit("WAVE %d" % k)
    return wave


async def close_wave(wave):
    order = list(wave)
    shuffle(order)
    await asyncio.gather(*(close_one(i, ws, n % 3 == 0) for n, (i, ws) in enumerate(order)))


async def open_wave(url, k, size):
    wave = await asyncio.gather(*(open_one(url, k * size + j) for j in range(size)))
    emit("WAVE %d" % k)
    return wave


async def main():
    url, waves, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    previous = await open_wave(url, 0, size)
    for k in range(1, waves):
        previous = await replace_wave(url, k, size, previous)
    await close_wave(previous)
    emit("DONE")


asyncio.run(main())
