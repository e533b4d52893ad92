"""One client for the window's server mode, with the options a real one has.

Usage: probe.py URL [--ca FILE] [--subprotocols a,b]. Prints "OPEN <chosen
subprotocol or ->" once the upgrade is through, sends the text "hello", then
prints "CLOSED <code>" when the server closes; "FAILED <reason>" when it
cannot connect.
"""
import argparse
import asyncio
import ssl
import sys

import websockets


def emit(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("url")
    parser.add_argument("--ca")
    parser.add_argument("--subprotocols", default="")
    args = parser.parse_args()
    context = ssl.create_default_context(cafile=args.ca) if args.ca else None
    offered = [name for name in args.subprotocols.split(",") if name]
    try:
        ws = await websockets.connect(args.url, ssl=context, subprotocols=offered or None,
                                      open_timeout=10, ping_interval=None)
    except Exception as error:  # what the connection failed on is the result
        emit("FAILED %s" % type(error).__name__)
        return
    emit("OPEN %s" % (ws.subprotocol or "-"))
    try:
        await ws.send("hello")
    except websockets.ConnectionClosed:
        pass
    await ws.wait_closed()
    emit("CLOSED %s" % ws.close_code)


asyncio.run(main())
