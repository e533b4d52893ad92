"""One client for server mode: probe.py URL [CAFILE or -] [SUBPROTOCOL,...].

Prints "OPEN <chosen subprotocol or ->", sends "hello" and prints
"CLOSED <code>" once the server closes; "FAILED" when it cannot connect.
"""
import asyncio
import ssl
import sys

import websockets


async def main(url, ca="-", offered=""):
    context = ssl.create_default_context(cafile=ca) if ca != "-" else None
    try:
        ws = await websockets.connect(url, ssl=context, open_timeout=10,
                                      subprotocols=offered.split(",") if offered else None)
    except Exception:  # how it failed is not the point
        print("FAILED", flush=True)
        return
    print("OPEN", ws.subprotocol or "-", flush=True)
    try:
        await ws.send("hello")
    except websockets.ConnectionClosed:
        pass
    await ws.wait_closed()
    print("CLOSED", ws.close_code, flush=True)


asyncio.run(main(*sys.argv[1:]))
