"""An HTTP CONNECT proxy on 127.0.0.1 that prints "PORT <n>", then
"CONNECT <host:port>" for each tunnel it opens, and relays the bytes."""
import asyncio
import sys


async def relay(reader, writer):
    try:
        while data := await reader.read(65536):
            writer.write(data)
            await writer.drain()
    except ConnectionError:
        pass
    finally:
        writer.close()


async def tunnel(reader, writer):
    head = await reader.readuntil(b"\r\n\r\n")
    target = head.split(b"\r\n")[0].split()[1].decode()
    print("CONNECT " + target, flush=True)
    host, port = target.rsplit(":", 1)
    up_reader, up_writer = await asyncio.open_connection(host.strip("[]"), int(port))
    writer.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
    await asyncio.gather(relay(reader, up_writer), relay(up_reader, writer))


async def main():
    server = await asyncio.start_server(tunnel, "127.0.0.1", 0)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


asyncio.run(main())
