#!/usr/bin/env python3
"""Writes bench/data/server_lines.txt: about 10,000 realistic server lines for the codec benchmark.

The mix is what a client sees on a busy network: tagged PRIVMSG (time, msgid, account,
sometimes a reply tag), JOIN, PART, QUIT and MODE with their tags, 353 NAMES lines,
005 ISUPPORT lines and PING. Python standard library only; the fixed seed makes the
output the same on every run:

    python3 scripts/gen_server_lines.py [--lines N] [--seed S] [--out FILE]
"""

import argparse
import os
from random import Random

SERVER = "irc.example.net"
START_MS = 1772442000 * 1000  # 2026-03-02T09:00:00Z

WORDS = (
    "the a to and of is it you that in for on this with be are have not but what was so just like can get if "
    "we do my all about one out at they there now no up know how when your think good would time more see "
    "build release patch server client channel merge review test deploy tonight tomorrow yes maybe thanks lol"
).split()
UNICODE_WORDS = ["café", "naïve", "привет", "日本語", "größe", "😀", "👍", "façade", "smörgåsbord", "Ωμέγα"]
CHANNELS = ["#general", "#dev", "#help", "#random", "#ops", "#music", "#linux", "#rust", "#python", "#games",
            "#offtopic", "#announce", "##chat", "#meta", "#design", "#infra"]
ISUPPORT = [
    ["CALLERID=g", "CASEMAPPING=rfc1459", "DEAF=D", "KICKLEN=255", "MODES=4", "PREFIX=(qaohv)~&@%+",
     "STATUSMSG=~&@%+", "EXCEPTS=e", "INVEX=I", "NICKLEN=30", "NETWORK=ExampleNet", "MAXLIST=beI:250",
     "MAXTARGETS=4"],
    ["CHANTYPES=#", "CHANLIMIT=#:250", "CHANNELLEN=50", "TOPICLEN=390", "CHANMODES=beI,k,l,BCMNORScimnpstz",
     "MONITOR=100", "ETRACE", "KNOCK", "WHOX", "ELIST=CMNTU", "SAFELIST", "AWAYLEN=200", "TARGMAX=NAMES:1,LIST:1"],
    ["UTF8ONLY", "BOT=B", "LINELEN=512", "SILENCE=15", "USERLEN=10", "ACCOUNTEXTBAN=a", "EXTBAN=$,ajrxz",
     "draft/CHATHISTORY=1000", "MSGREFTYPES=msgid,timestamp", "CLIENTTAGDENY=*,-draft/react,-draft/reply"],
]


def make_users(rng, count):
    users = []
    for i in range(count):
        base = rng.choice(["alex", "sam", "kim", "jo", "max", "lee", "ana", "ben", "eve", "ivy", "noa", "zed",
                           "rio", "mia", "tom", "kai"])
        nick = f"{base}{rng.choice(['', '_', '|away', '-', '^'])}{i}" if rng.random() < 0.6 else f"{base.title()}{i}"
        user = "~" + base if rng.random() < 0.4 else base
        host = rng.choice([
            f"user/{base}{i}",
            f"{rng.randint(1, 254)}.{rng.randint(0, 255)}.{rng.randint(0, 255)}.{rng.randint(1, 254)}",
            f"2001:db8:{rng.randint(0, 65535):x}::{rng.randint(1, 65535):x}",
            f"host-{rng.randint(1000, 99999)}.dsl.example.org",
            f"gateway/web/session/ip.{rng.randint(1, 254)}.{rng.randint(0, 255)}.0.1",
        ])
        account = f"{base}{i}" if rng.random() < 0.7 else None
        users.append((nick, user, host, account))
    return users


def msgid(rng):
    alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
    return "".join(rng.choice(alphabet) for _ in range(rng.choice([16, 20, 26])))


def stamp(ms):
    secs, milli = divmod(ms, 1000)
    days, rest = divmod(secs, 86400)
    # Days since 1970 into a civil date (years beginning in March).
    z = days + 719468
    era, doe = divmod(z, 146097)
    yoe = (doe - doe // 1460 + doe // 36524 - doe // 146096) // 365
    doy = doe - (365 * yoe + yoe // 4 - yoe // 100)
    mp = (5 * doy + 2) // 153
    day = doy - (153 * mp + 2) // 5 + 1
    month = mp + 3 if mp < 10 else mp - 9
    year = yoe + era * 400 + (1 if month <= 2 else 0)
    return f"{year:04d}-{month:02d}-{day:02d}T{rest // 3600:02d}:{rest // 60 % 60:02d}:{rest % 60:02d}.{milli:03d}Z"


def text(rng):
    words = [rng.choice(UNICODE_WORDS) if rng.random() < 0.04 else rng.choice(WORDS)
             for _ in range(rng.randint(3, 30))]
    line = " ".join(words)
    roll = rng.random()
    if roll < 0.04:
        return f"\x01ACTION {line}\x01"
    if roll < 0.07:
        return f"\x02{words[0]}\x02 {line}"
    return line


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lines", type=int, default=10000)
    parser.add_argument("--seed", type=int, default=20260302)
    parser.add_argument("--out", default=os.path.join(root, "bench", "data", "server_lines.txt"))
    args = parser.parse_args()

    rng = Random(args.seed)
    users = make_users(rng, 800)
    now = START_MS
    recent_ids = []
    out = []

    def tags(account, with_id):
        parts = [f"time={stamp(now)}"]
        if with_id:
            mid = msgid(rng)
            recent_ids.append(mid)
            del recent_ids[:-50]
            parts.append(f"msgid={mid}")
        if account:
            parts.append(f"account={account}")
        return "@" + ";".join(parts)

    def source(u):
        return f"{u[0]}!{u[1]}@{u[2]}"

    for batch in ISUPPORT:
        out.append(f":{SERVER} 005 me {' '.join(batch)} :are supported by this server")

    while len(out) < args.lines:
        now += rng.randint(5, 4000)
        u = rng.choice(users)
        chan = rng.choice(CHANNELS)
        roll = rng.random()
        if roll < 0.62:
            t = tags(u[3], True)
            if recent_ids and rng.random() < 0.06:
                t += f";+draft/reply={rng.choice(recent_ids)}"
            target = "me" if rng.random() < 0.03 else chan
            out.append(f"{t} :{source(u)} PRIVMSG {target} :{text(rng)}")
        elif roll < 0.71:
            out.append(f"{tags(u[3], True)} :{source(u)} JOIN {chan} {u[3] or '*'} :{u[0]} the {rng.choice(WORDS)}")
        elif roll < 0.76:
            reason = f" :{text(rng)}" if rng.random() < 0.5 else ""
            out.append(f"{tags(u[3], True)} :{source(u)} PART {chan}{reason}")
        elif roll < 0.81:
            reason = rng.choice(["Quit: Leaving", "Ping timeout: 240 seconds", "Remote host closed the connection",
                                 f"Quit: {text(rng)}", "Changing host"])
            out.append(f"{tags(u[3], True)} :{source(u)} QUIT :{reason}")
        elif roll < 0.85:
            mode, count = rng.choice([("+o", 1), ("-o", 1), ("+v", 1), ("-v", 1), ("+vv", 2), ("+b", 0),
                                      ("-b", 0), ("+ov", 2), ("+l", 0)])
            args_ = [rng.choice(users)[0] for _ in range(count)]
            if mode.endswith("b"):
                args_ = [f"*!*@{rng.choice(users)[2]}"]
            if mode == "+l":
                args_ = [str(rng.randint(10, 500))]
            op = rng.choice(users)
            out.append(f"{tags(op[3], True)} :{source(op)} MODE {chan} {mode} {' '.join(args_)}".rstrip())
        elif roll < 0.94:
            entries = []
            length = 0
            while length < 400:
                m = rng.choice(users)
                prefix = rng.choice(["", "", "", "", "+", "@", "@+", "%", "~@"])
                entry = prefix + m[0]
                entries.append(entry)
                length += len(entry) + 1
            sign = rng.choice(["=", "=", "@", "*"])
            out.append(f":{SERVER} 353 me {sign} {chan} :{' '.join(entries)}")
        elif roll < 0.955:
            out.append(f":{SERVER} 005 me {' '.join(rng.choice(ISUPPORT))} :are supported by this server")
        else:
            out.append(f"PING :{SERVER}" if rng.random() < 0.7 else f":{SERVER} PING me :{now}")

    os.makedirs(os.path.dirname(args.out), exist_ok=True)
    with open(args.out, "w", encoding="utf-8", newline="\n") as f:
        for line in out[: args.lines]:
            f.write(line + "\n")


if __name__ == "__main__":
    main()
