"""Binary payloads from encoders nobody here wrote: cbor2, msgpack and
python3-protobuf (reading.proto compiled with protoc at start).

Binds 127.0.0.1 on a free port and prints "PORT <n>". On "push" it sends the
connection every case as a binary frame and prints "CASE <name> <json>": the
value a decoder is to show, bytes as hex. A command "expect cbor|msgpack|proto"
reads the next binary frame received with that format and prints
"GOT <json>". With --push-on-open it pushes as soon as a client connects.
"""
import asyncio
import datetime
import gzip
import importlib
import json
import os
import subprocess
import sys
import tempfile
import threading
import zlib

import cbor2
import msgpack
import websockets

here = os.path.dirname(os.path.abspath(__file__))
out = tempfile.mkdtemp()
subprocess.run(["protoc", "-I", here, "--python_out", out, "reading.proto"], check=True)
sys.path.insert(0, out)
reading_pb2 = importlib.import_module("reading_pb2")
from google.protobuf import json_format  # noqa: E402

UTC = datetime.timezone.utc


def proto_reading():
    r = reading_pb2.Reading(name="t1", temp=21.5, n=7, delta=-3, samples=[1, 2, 300],
                            raw=b"\xff\x00", ok=True, f32=1065353216, ratio=0.5,
                            kind=reading_pb2.Reading.K1)
    r.inner.id = 5
    return r


def cases():
    reading = proto_reading()
    raw = zlib.compressobj(wbits=-15)
    yield "cbor-scalars", cbor2.dumps(
        {"u": 2**63 - 1, "neg": -2**63, "f": 1.5, "s": "数据", "t": True, "z": None,
         "a": [0, 23, 24, 255, 65536, -1, -25], "u64": 2**64 - 1, "n64": -2**64}), \
        {"u": 2**63 - 1, "neg": -2**63, "f": 1.5, "s": "数据", "t": True, "z": None,
         "a": [0, 23, 24, 255, 65536, -1, -25], "u64": str(2**64 - 1), "n64": str(-2**64)}
    yield "cbor-tags", cbor2.dumps(
        {"b": b"\x01\xfe", "d": datetime.datetime(2024, 3, 15, 14, 3, 7, 215000, tzinfo=UTC),
         "e": datetime.datetime.fromtimestamp(1710511387, UTC), "big": 2**64, "nbig": -2**70,
         7: "seven"},
        datetime_as_timestamp=False), \
        {"b": "01fe", "d": "2024-03-15T14:03:07.215Z", "e": "2024-03-15T14:03:07.000Z",
         "big": str(2**64), "nbig": str(-2**70), "7": "seven"}
    # cbor2 writes definite lengths only: these are by hand, as RFC 8949 shows them.
    yield "cbor-indefinite", bytes.fromhex("bf6161 9f0102ff 6162 7f6161 6162ff ff"), \
        {"a": [1, 2], "b": "ab"}
    yield "msgpack-types", msgpack.packb(
        {"i": [0, 127, 128, 65535, 2**32, -1, -33, -2**63], "u64": 2**64 - 1, "f": 0.25,
         "f32": 0.5, "s": "x" * 40, "b": b"\x00\x01", "n": None, "t": False,
         "m": {1: "one"}, "e": msgpack.ExtType(5, b"ab"),
         "ts": msgpack.Timestamp(1710511387, 215000000),
         "ts64": msgpack.Timestamp(1, 5), "ts96": msgpack.Timestamp(-1, 0)},
        use_single_float=False), \
        {"i": [0, 127, 128, 65535, 2**32, -1, -33, -2**63], "u64": str(2**64 - 1),
         "f": 0.25, "f32": 0.5, "s": "x" * 40, "b": "0001", "n": None, "t": False,
         "m": {"1": "one"}, "e": {"ext": 5, "data": "6162"},
         "ts": "2024-03-15T14:03:07.215000000Z", "ts64": "1970-01-01T00:00:01.000000005Z",
         "ts96": "1969-12-31T23:59:59.000000000Z"}
    yield "msgpack-float32", msgpack.packb([0.5, -2.0], use_single_float=True), [0.5, -2.0]
    yield "protobuf-wire", reading.SerializeToString(), {
        "1": "t1",
        "2": {"fixed64": 4626744929681408000, "double": 21.5},
        "3": {"varint": 7, "zigzag": -4},
        "4": {"varint": 5, "zigzag": -3},
        "5": {"packed": [1, 2, 300]},
        "6": {"bytes": "ff00"},
        "7": {"1": {"varint": 5, "zigzag": -3}},
        "8": {"varint": 1, "zigzag": -1},
        "9": {"fixed32": 1065353216, "float": 1.0},
        "10": {"fixed32": 1056964608, "float": 0.5},
        "11": {"varint": 1, "zigzag": -1}}
    yield "protobuf-schema", reading.SerializeToString(), json_format.MessageToDict(
        reading, preserving_proto_field_name=True, including_default_value_fields=True)
    yield "gzip-json", gzip.compress(b'{"temp": 21.5, "n": 7}'), {"temp": 21.5, "n": 7}
    yield "zlib-cbor", zlib.compress(cbor2.dumps({"temp": 21.5})), {"temp": 21.5}
    yield "deflate-msgpack", raw.compress(msgpack.packb({"n": 7})) + raw.flush(), {"n": 7}


loop = None
connection = None


def emit(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


expecting = []


def decoded(data, kind):
    if kind == "cbor":
        return cbor2.loads(data)
    if kind == "msgpack":
        return msgpack.unpackb(data, strict_map_key=False)
    return json_format.MessageToDict(reading_pb2.Reading.FromString(data),
                                     preserving_proto_field_name=True)


async def handler(ws, path=None):
    global connection
    connection = ws
    emit("OPEN")
    if "--push-on-open" in sys.argv:
        await push()
    try:
        async for message in ws:
            if isinstance(message, bytes) and expecting:
                value = decoded(message, expecting.pop(0))
                emit("GOT " + json.dumps(value, ensure_ascii=False, sort_keys=True))
    except websockets.ConnectionClosed:
        pass


async def push():
    for name, frame, value in cases():
        await connection.send(frame)
        emit("CASE %s %s" % (name, json.dumps(value, ensure_ascii=False)))


def commands():
    for line in sys.stdin:
        words = line.split()
        if words == ["push"]:
            asyncio.run_coroutine_threadsafe(push(), loop)
        elif len(words) == 2 and words[0] == "expect":
            expecting.append(words[1])
            emit("EXPECTING " + words[1])


async def main():
    global loop
    loop = asyncio.get_running_loop()
    async with websockets.serve(handler, "127.0.0.1", 0) as server:
        emit("PORT %d" % server.sockets[0].getsockname()[1])
        threading.Thread(target=commands, daemon=True).start()
        await asyncio.Future()


asyncio.run(main())
