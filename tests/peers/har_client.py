"""Client for a served recording.

Connects to argv[1], prints "OPEN", then "RECV <text>" for each text frame
received and "CLOSED" at the end. Each line on stdin is sent as a text frame.
"""
import asyncio
import sys
import threading

import websockets


def emit(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


async def main():
    loop = asyncio.get_running_loop()
    async with websockets.connect(sys.argv[1], max_size=None) as ws:
        emit("OPEN")

        def read_stdin():
            for line in sys.stdin:
                asyncio.run_coroutine_threadsafe(ws.send(line.rstrip("\n")), loop)

        threading.Thread(target=read_stdin, daemon=True).start()
        try:
            async for message in ws:
                emit("RECV " + (message if isinstance(message, str) else message.hex()))
        except websockets.ConnectionClosed:
            pass
    emit("CLOSED")


asyncio.run(main())
