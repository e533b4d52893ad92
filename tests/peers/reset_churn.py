"""Clients that send their upgrade request and reset at once.

Usage: reset_churn.py PORT ROUNDS. Each round opens a TCP connection to
127.0.0.1:PORT, sends a WebSocket upgrade request for /ws and drops the
connection with a reset, ten at a time. Prints "DONE" at the end.
"""
import base64
import os
import socket
import struct
import sys


def request(port):
    key = base64.b64encode(os.urandom(16)).decode()
    return ("GET /ws HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nUpgrade: websocket\r\n"
            "Connection: Upgrade\r\nSec-WebSocket-Key: %s\r\n"
            "Sec-WebSocket-Version: 13\r\n\r\n" % (port, key)).encode()


def main():
    port, rounds = int(sys.argv[1]), int(sys.argv[2])
    for start in range(0, rounds, 10):
        batch = []
        for _ in range(min(10, rounds - start)):
            s = socket.create_connection(("127.0.0.1", port))
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            s.sendall(request(port))
            batch.append(s)
        for s in batch:
            s.close()
    sys.stdout.write("DONE\n")
    sys.stdout.flush()


main()
