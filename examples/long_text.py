"""Long text: nothing splits a message, and servers cut a relayed line at 512 bytes.

`split_text` cuts a text into pieces a host sends one `send_message` each: one piece per line,
and a long line cut between characters, after a space where one fits. README.md shows it.
"""


# --8<-- the splitting the README shows
def split_text(text, max_bytes=400):
    """`text` in pieces of at most `max_bytes` bytes of UTF-8 (4 or more): one per line of it, a
    longer line cut after its last space that fits, or between two characters when none does.
    The pieces of a line join back into it; empty lines are left out (servers refuse them)."""
    if max_bytes < 4:
        raise ValueError("max_bytes must hold the longest character, 4 bytes")
    pieces = []
    for line in text.replace("\r\n", "\n").replace("\r", "\n").split("\n"):
        data = line.encode()
        while len(data) > max_bytes:
            cut = max_bytes
            while data[cut] & 0xC0 == 0x80:  # a continuation byte: back to the character's start
                cut -= 1
            space = data.rfind(b" ", 0, cut)
            if space > 0:
                cut = space + 1
            pieces.append(data[:cut].decode())
            data = data[cut:]
        if data:
            pieces.append(data.decode())
    return pieces
# --8<--
