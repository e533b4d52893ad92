"""Clients that reset right after their upgrade request: reset_churn.py PORT N.

N connections to 127.0.0.1:PORT, ten at a time, each sending a request for
/ws and closing with a reset (linger 0). Prints "DONE" at the end.
"""
import socket
import struct
import sys

port, rounds = int(sys.argv[1]), int(sys.argv[2])
request = ("GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
           "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
           "Sec-WebSocket-Version: 13\r\n\r\n").encode()
for start in range(0, rounds, 10):
    batch = [socket.create_connection(("127.0.0.1", port)) for _ in range(10)]
    for s in batch:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        s.sendall(request)
    for s in batch:
        s.close()
print("DONE", flush=True)
