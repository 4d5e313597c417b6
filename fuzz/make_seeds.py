#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into OUTDIR/<target>/, one file per input.

The seeds are the project's own material: the string literals of the C++ tests (IRC lines
and JSON texts), the parser vectors, the example session and the benchmark's server lines.
Usage: make_seeds.py OUTDIR
"""
import base64
import hashlib
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

# A C++ string literal: raw R"(...)" or an ordinary one with escapes.
LITERAL = re.compile(r'R"\((.*?)\)"|"((?:[^"\\\n]|\\.)*)"', re.S)
ESCAPE = re.compile(r'\\(x[0-9a-fA-F]{1,2}|[0-7]{1,3}|u[0-9a-fA-F]{4}|.)', re.S)
SIMPLE = {'n': '\n', 'r': '\r', 't': '\t', '0': '\0', '\\': '\\', '"': '"', "'": "'", '?': '?'}
IRC_LINE = re.compile(rb'^(@\S* +)?(:\S* +)?[A-Za-z0-9]+( |$)')


def unescape(text):
    def one(m):
        e = m.group(1)
        if e in SIMPLE:
            return SIMPLE[e].encode()
        if e[0] == 'x':
            return bytes([int(e[1:], 16)])
        if e[0] == 'u':
            return chr(int(e[1:], 16)).encode()
        if e[0] in '01234567':
            return bytes([int(e, 8) & 0xff])
        return e.encode()
    out = b''
    last = 0
    raw = text
    for m in ESCAPE.finditer(raw):
        out += raw[last:m.start()].encode() + one(m)
        last = m.end()
    return out + raw[last:].encode()


def literals(path):
    """The literals of one source file, in order, grouped by TEST body."""
    groups, current = [], []
    for line in path.read_text(encoding='utf-8').splitlines(keepends=True):
        if re.match(r'\s*TEST(_F|_P)?\(', line) and current:
            groups.append(current)
            current = []
        for m in LITERAL.finditer(line):
            current.append(m.group(1).encode() if m.group(1) is not None else unescape(m.group(2)))
    if current:
        groups.append(current)
    return groups


def irc_lines(items):
    return [s for s in items if len(s) >= 3 and IRC_LINE.match(s) and b'\n' not in s.rstrip(b'\r\n')]


def json_texts(items):
    return [s for s in items if s[:1] in (b'{', b'[')]


def write(corpus, data):
    corpus.mkdir(parents=True, exist_ok=True)
    (corpus / hashlib.sha1(data).hexdigest()).write_bytes(data)


def main():
    out = pathlib.Path(sys.argv[1])
    test_files = sorted((ROOT / 'tests').rglob('*.cpp')) + sorted((ROOT / 'tests').rglob('*.hpp'))
    groups = {path: literals(path) for path in test_files}
    every = [s for gs in groups.values() for g in gs for s in g]

    lines = irc_lines(every)
    vectors = (ROOT / 'tests/conformance/data/msg-split.yaml').read_bytes()
    lines += [unescape(m.group(1)) for m in re.finditer(rb'input: "((?:[^"\\]|\\.)*)"'.decode(), vectors.decode())]
    session = (ROOT / 'examples/sample_session.txt').read_bytes().splitlines()
    server = (ROOT / 'bench/data/server_lines.txt').read_bytes().splitlines()[:2000]
    lines += session + server[:300]
    for line in lines:
        write(out / 'fuzz_line', line)

    # The engine: a configuration byte, then each test's lines as one stream, a clock step
    # (32 s, past the idle and label deadlines) between tests.
    tick = b'\xff\x3c'
    for path, gs in groups.items():
        sasl = path.name == 'test_engine_sasl.cpp'
        for g in gs:
            stream = b'\r\n'.join(irc_lines(g))
            if not stream:
                continue
            for config in (1, 2, 3) if sasl else (0,):
                write(out / 'fuzz_engine', bytes([config]) + stream + b'\r\n' + tick)
    write(out / 'fuzz_engine', b'\x00' + b'\r\n'.join(session) + b'\r\n' + tick)
    # Links that come and go with host commands given between them, some not yet taken when
    # a link drops: 0xFF 0x06 connects, 0x02 disconnects, 0x0A + 16 * n gives command n.
    connect, disconnect = b'\xff\x06', b'\xff\x02'
    commands = b''.join(b'\xff' + bytes([0x0a + 16 * n]) for n in range(10))
    labelled = b'CAP * LS :labeled-response message-tags\r\nCAP * ACK :labeled-response message-tags\r\n'
    welcome = b':srv 001 me :Welcome\r\n'
    write(out / 'fuzz_engine', b'\x00' + labelled + welcome + commands + b'PING :x\r\n' + disconnect + commands
          + connect + labelled + commands + welcome + tick)
    write(out / 'fuzz_engine', b'\x40' + commands + connect + labelled + commands + connect + b'CAP * LS :\r\n'
          + commands + welcome + disconnect + connect + tick)
    # Own messages given while down and while registering, on links with and without
    # echo-message, in a channel whose log keeps everything; and a SASL login whose link drops
    # with its CAP REQ lines, then with its payload, not yet taken.
    chat = b'\xff\x2a'
    joined = b':me!u@h JOIN #fz\r\n'
    echo = b'CAP * LS :echo-message draft/chathistory\r\nCAP * ACK :echo-message draft/chathistory\r\n'
    write(out / 'fuzz_engine', b'\x18' + echo + welcome + joined + tick + disconnect + chat + connect + chat
          + b'CAP * LS :\r\n' + chat + welcome + tick + disconnect + chat + connect + echo + welcome + tick)
    write(out / 'fuzz_engine', b'\x19' + b'CAP * LS :sasl message-tags\r\n' + disconnect + connect
          + b'CAP * LS :sasl\r\nCAP * ACK :sasl\r\nAUTHENTICATE +\r\n' + disconnect + connect
          + b'CAP * LS :sasl\r\nCAP * ACK :sasl\r\nAUTHENTICATE +\r\n:srv 903 me :ok\r\n' + welcome + tick)
    for i in range(0, len(server), 20):
        write(out / 'fuzz_engine', b'\x08' + b'\n'.join(server[i:i + 20]) + b'\n')

    # JSON readers: the first byte picks the form where a target reads two.
    texts = json_texts(every)
    for text in texts:
        write(out / 'fuzz_command', text)
        write(out / 'fuzz_bot_tags', b'\x01' + text)
        write(out / 'fuzz_bot_tags', b'\x00' + base64.b64encode(text))
        for form in (b'\x00', b'\x01'):
            write(out / 'fuzz_config', form + text)
            write(out / 'fuzz_signal', form + text)

    # SCRAM: a server-first and a server-final, one line each, for the client nonce "fuzznonce".
    salt = base64.b64encode(b'salt').decode()
    for first in (f'r=fuzznonceSERVER,s={salt},i=1', f'r=fuzznonceX,s={salt},i=16,e=x',
                  f'i=4,s={salt},r=fuzznonce1', 'r=fuzznonce,s=QQ==,i=1', 'r=other,s=QQ==,i=1'):
        for final in ('v=AAAA', 'e=invalid-proof', ''):
            write(out / 'fuzz_scram', f'{first}\n{final}'.encode())


if __name__ == '__main__':
    main()
