"""HTTP CONNECT proxy: prints "PORT <n>", then "CONNECT <host:port>" per tunnel."""
import asyncio


async def relay(reader, writer):
    try:
        while data := await reader.read(65536):
            writer.write(data)
            await writer.drain()
    except ConnectionError:
        pass
    writer.close()


async def tunnel(reader, writer):
    request = (await reader.readuntil(b"\r\n\r\n")).split()[1].decode()
    print("CONNECT " + request, flush=True)
    host, port = request.rsplit(":", 1)
    upstream = await asyncio.open_connection(host, int(port))
    writer.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
    await asyncio.gather(relay(reader, upstream[1]), relay(upstream[0], writer))


async def main():
    server = await asyncio.start_server(tunnel, "127.0.0.1", 0)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


asyncio.run(main())
