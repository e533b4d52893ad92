"""A peer that completes the WebSocket handshake and then stops reading.

Usage: stalled.py server | stalled.py client PORT
As a server it listens on 127.0.0.1 and prints "LISTENING <port>"; as a
client it connects to 127.0.0.1:PORT and prints "OPEN <local port>". Either
side keeps a small receive buffer and reads nothing after the handshake until
"read" comes on stdin; from then on it reads and drops everything.
"""
import base64
import hashlib
import socket
import sys
import threading

GUID = b"258EAFA5-E914-47DA-95CA-C5AB0DC85B11"
KEY = b"dGhlIHNhbXBsZSBub25jZQ=="


def emit(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def read_head(conn):
    head = b""
    while b"\r\n\r\n" not in head:
        chunk = conn.recv(1)
        if not chunk:
            sys.exit(1)
        head += chunk
    return head


def small(sock):
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)


def serve():
    listener = socket.socket()
    small(listener)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    emit("LISTENING %d" % listener.getsockname()[1])
    conn, _ = listener.accept()
    head = read_head(conn)
    key = [line.split(b":", 1)[1].strip() for line in head.split(b"\r\n")
           if line.lower().startswith(b"sec-websocket-key:")][0]
    accept = base64.b64encode(hashlib.sha1(key + GUID).digest())
    conn.sendall(b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                 b"Connection: Upgrade\r\nSec-WebSocket-Accept: " + accept + b"\r\n\r\n")
    return conn


def connect(port):
    conn = socket.socket()
    small(conn)
    conn.connect(("127.0.0.1", port))
    conn.sendall(b"GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                 b"Connection: Upgrade\r\nSec-WebSocket-Key: " + KEY +
                 b"\r\nSec-WebSocket-Version: 13\r\n\r\n")
    read_head(conn)
    emit("OPEN %d" % conn.getsockname()[1])
    return conn


def drain(conn):
    while conn.recv(1 << 16):
        pass


conn = serve() if sys.argv[1] == "server" else connect(int(sys.argv[2]))
for line in sys.stdin:
    if line.strip() == "read":
        threading.Thread(target=drain, args=(conn,), daemon=True).start()
