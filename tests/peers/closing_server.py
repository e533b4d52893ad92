"""Server that ends every upgrade at once: --close CODE accepts it and closes
with that code, --status N refuses it with that HTTP status. Prints "PORT <n>"
and one "UPGRADE" per opening handshake it receives."""
import argparse
import asyncio
import http

import websockets

args = argparse.ArgumentParser()
args.add_argument("--close", type=int, default=1011)
args.add_argument("--status", type=int, default=0)
options = args.parse_args()


async def check(path, headers):
    print("UPGRADE")
    if options.status:
        return http.HTTPStatus(options.status), [], b"refused\n"


async def close(ws, path=None):
    await ws.close(options.close, "closing at once")


async def main():
    server = await websockets.serve(close, "127.0.0.1", 0, process_request=check)
    print("PORT %d" % server.sockets[0].getsockname()[1])
    await asyncio.Future()


asyncio.run(main())
