"""Replies a second and reply latency: `sockwise mock` beside a python
websockets echo server, the same client against both, in one run.

Usage: mock_bench.py SOCKWISE [--seconds S] [--rate R]. The client sends
"ping" with up to 256 frames in flight for S seconds (replies a second), then
R frames a second for S seconds, timing each reply (p50, p99). The mock's
rules answer "ping" with "pong", its guard raised past the load; its log goes
to /dev/null as a CI job's would go to a file.
"""
import argparse
import asyncio
import json
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time

import websockets

WINDOW = 256


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


async def wait_listening(port):
    for _ in range(200):
        try:
            _, writer = await asyncio.open_connection("127.0.0.1", port)
            writer.close()
            return
        except OSError:
            await asyncio.sleep(0.05)
    raise RuntimeError("nothing listens on %d" % port)


async def throughput(url, seconds):
    async with websockets.connect(url, max_size=None, ping_interval=None) as ws:
        credit = asyncio.Semaphore(WINDOW)
        got = 0
        done = False

        async def receive():
            nonlocal got
            async for _ in ws:
                got += 1
                credit.release()
                if done and got == sent:
                    return

        sent = 0
        reader = asyncio.create_task(receive())
        start = time.monotonic()
        while time.monotonic() - start < seconds:
            await credit.acquire()
            await ws.send("ping")
            sent += 1
        done = True
        await asyncio.wait_for(reader, 30)
        return got / (time.monotonic() - start)


async def latency(url, seconds, rate):
    async with websockets.connect(url, max_size=None, ping_interval=None) as ws:
        stamps = []
        times = []
        total = int(seconds * rate)

        async def receive():
            async for _ in ws:
                times.append(time.perf_counter() - stamps[len(times)])
                if len(times) == total:
                    return

        reader = asyncio.create_task(receive())
        start = time.perf_counter()
        for i in range(total):
            due = start + i / rate
            delay = due - time.perf_counter()
            if delay > 0:
                await asyncio.sleep(delay)
            stamps.append(time.perf_counter())
            await ws.send("ping")
        await asyncio.wait_for(reader, 30)
        times.sort()
        return (statistics.median(times) * 1000, times[int(len(times) * 0.99) - 1] * 1000)


async def echo(ws, path=None):
    async for message in ws:
        await ws.send(message)


def serve_echo(port):
    async def main():
        async with websockets.serve(echo, "127.0.0.1", port, max_size=None,
                                    ping_interval=None):
            await asyncio.Future()
    asyncio.run(main())


async def measure(name, url, args):
    await wait_listening(int(url.rsplit(":", 1)[1].split("/")[0]))
    per_second = await throughput(url, args.seconds)
    p50, p99 = await latency(url, args.seconds, args.rate)
    print("%-22s %12.0f %12.2f %12.2f" % (name, per_second, p50, p99), flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("sockwise")
    parser.add_argument("--seconds", type=float, default=5)
    parser.add_argument("--rate", type=float, default=1000)
    parser.add_argument("--serve-echo", type=int, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.serve_echo:
        serve_echo(args.serve_echo)
        return

    rules = {"format": "sockwise-auto-reply", "version": 1, "rules": [
        {"name": "ping", "maxPerSecond": 100000,
         "match": {"type": "equals", "value": "ping"}, "reply": {"content": "pong"}}]}
    with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as f:
        json.dump(rules, f)
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    mock_port, echo_port = free_port(), free_port()
    servers = [
        ("sockwise mock", mock_port,
         subprocess.Popen([args.sockwise, "mock", "--rules", f.name, "--port", str(mock_port)],
                          stdout=subprocess.DEVNULL, env=env)),
        ("python echo server", echo_port,
         subprocess.Popen([sys.executable, __file__, args.sockwise, "--serve-echo",
                           str(echo_port)])),
    ]
    print("%-22s %12s %12s %12s" % ("server", "replies/s", "p50 ms", "p99 ms"))
    print("(%g s each; latency at %g messages a second)" % (args.seconds, args.rate))
    try:
        for name, port, _ in servers:
            asyncio.run(measure(name, "ws://127.0.0.1:%d/" % port, args))
    finally:
        for _, _, process in servers:
            process.terminate()
            process.wait()
        os.unlink(f.name)


main()
