"""A WebSocket server that streams sensor-like JSON, to try the chart with.

    /usr/bin/python3 scripts/sensor_server.py [port [seconds [fields]]]

Listens on 127.0.0.1 (a free port when the port is 0 or not given), prints
"PORT <n>", "OPEN" for each connection, and sends every connection a reading
such as {"temp": 23.41, "hum": 51.2} every `seconds` (default 0.2). `fields`
picks the values, comma-separated, of temp, hum and volt (a supply voltage
near 3.3, on another scale than the others); the default is temp,hum. Needs
Debian's python3-websockets.
"""
import asyncio
import json
import math
import sys
import time

import websockets


def emit(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def reading(t):
    values = {
        "temp": round(24 + 3 * math.sin(t / 4), 2),
        "hum": round(50 + 8 * math.cos(t / 6), 1),
        "volt": round(3.3 + 0.15 * math.sin(t / 3), 3),
    }
    return {name: values[name] for name in FIELDS}


INTERVAL = float(sys.argv[2]) if len(sys.argv) > 2 else 0.2
FIELDS = sys.argv[3].split(",") if len(sys.argv) > 3 else ["temp", "hum"]


async def handler(ws, path=None):
    emit("OPEN")
    try:
        while True:
            await ws.send(json.dumps(reading(time.monotonic())))
            await asyncio.sleep(INTERVAL)
    except websockets.ConnectionClosed:
        pass


async def main():
    port = int(sys.argv[1]) if len(sys.argv) > 1 else 0
    async with websockets.serve(handler, "127.0.0.1", port) as server:
        emit("PORT %d" % server.sockets[0].getsockname()[1])
        await asyncio.Future()


if __name__ == "__main__":
    asyncio.run(main())
