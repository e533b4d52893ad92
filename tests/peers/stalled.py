"""A peer that completes the WebSocket handshake and then reads nothing until
"read" comes on stdin: stalled.py server (prints "LISTENING <port>") or
stalled.py client PORT (prints "OPEN <local port>"), on 127.0.0.1."""
import base64
import hashlib
import socket
import sys
import threading


def head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        data += conn.recv(1) or sys.exit(1)
    return data


def open_socket():
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    return s


if sys.argv[1] == "server":
    listener = open_socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    print("LISTENING %d" % listener.getsockname()[1], flush=True)
    conn = listener.accept()[0]
    key = [line.split(b":", 1)[1].strip() for line in head(conn).split(b"\r\n")
           if line.lower().startswith(b"sec-websocket-key:")][0]
    accept = base64.b64encode(hashlib.sha1(key + b"258EAFA5-E914-47DA-95CA-C5AB0DC85B11").digest())
    conn.sendall(b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                 b"Connection: Upgrade\r\nSec-WebSocket-Accept: " + accept + b"\r\n\r\n")
else:
    conn = open_socket()
    conn.connect(("127.0.0.1", int(sys.argv[2])))
    conn.sendall(b"GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                 b"Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                 b"Sec-WebSocket-Version: 13\r\n\r\n")
    head(conn)
    print("OPEN %d" % conn.getsockname()[1], flush=True)

for line in sys.stdin:
    if line.strip() == "read":
        threading.Thread(target=lambda: [None for _ in iter(lambda: conn.recv(65536), b"")],
                         daemon=True).start()
