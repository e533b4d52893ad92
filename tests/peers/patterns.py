"""Payloads both sides can generate, and how received frames are reported."""

# 16 UTF-8 bytes, two of the characters multi-byte, so sizes stay exact.
TEXT_UNIT = "abcdefghij\u6570\u636e"
# A prime period, so a lost or doubled chunk of any power-of-two size shows.
BINARY_UNIT = bytes((i * 31 + 7) & 0xFF for i in range(251))


def make_text(size):
    assert size % 16 == 0
    return TEXT_UNIT * (size // 16)


def make_binary(size):
    return (BINARY_UNIT * (size // 251 + 1))[:size]


def describe(message):
    if isinstance(message, str):
        return "TEXT " + message.encode("utf-8").hex()
    return "BINARY " + bytes(message).hex()
