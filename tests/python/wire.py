"""What a host test does on the wire: feed server lines, take the lines the client sent."""


def feed(client, *lines):
    client.handle_bytes("".join(line + "\r\n" for line in lines).encode())


def sent(client):
    """Every line the client queued, taken, without its CR LF."""
    out = []
    while (chunk := client.poll_transmit()) is not None:
        out.append(chunk[:-2].decode())
    return out
