"""Clients all at once for server mode: crowd.py URL N.

Prints "SETTLED" once every client of a wave has opened or failed, and
"CLOSED <code>" whenever the server closes one. Commands on stdin: "leave K"
closes K open clients with 1000; "more M" opens a wave of M more.
"""
import asyncio
import sys
import threading

import websockets

clients = set()


async def one(url, settled):
    try:
        ws = await websockets.connect(url, open_timeout=30, ping_interval=None)
    except Exception:  # refused or timed out: settled all the same
        settled.set_result(None)
        return
    clients.add(ws)
    settled.set_result(None)
    await ws.wait_closed()
    if ws in clients:
        clients.discard(ws)
        print("CLOSED", ws.close_code, flush=True)


async def wave(url, n):
    settled = [asyncio.get_running_loop().create_future() for _ in range(n)]
    for future in settled:
        asyncio.create_task(one(url, future))
    await asyncio.gather(*settled)
    print("SETTLED", flush=True)


async def command(url, words):
    if words[0] == "leave":
        for ws in list(clients)[: int(words[1])]:
            clients.discard(ws)
            await ws.close(code=1000)
    elif words[0] == "more":
        await wave(url, int(words[1]))


async def main(url, n):
    loop = asyncio.get_running_loop()
    threading.Thread(daemon=True, target=lambda: [
        asyncio.run_coroutine_threadsafe(command(url, line.split()), loop) for line in sys.stdin
    ]).start()
    await wave(url, int(n))
    await asyncio.Future()


asyncio.run(main(*sys.argv[1:]))
