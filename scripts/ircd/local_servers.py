"""Throwaway IRC servers on 127.0.0.1 for the integration tests and the main job.

Each server is a child process with its configuration written into a directory of its own,
listening on ports the system handed out (or one asked for), and stopped by its PID. The servers
are Debian's InspIRCd (with TLS on a certificate made for the run, and Atheme linked to it for
SASL, when asked) and ngIRCd, which speaks no IRCv3. `Network` is InspIRCd with what was asked
of it, as scripts/ircd/with_server.py starts it. `RawIrc` is a socket client for the chores
around them: checking that services are linked, registering accounts, and asking the server
what it holds.
"""

import hashlib
import os
import shutil
import signal
import socket
import ssl
import subprocess
import time

HERE = os.path.dirname(os.path.abspath(__file__))
HOST = "127.0.0.1"
LINK_PASSWORD = "tessel-link"

INSPIRCD = "/usr/sbin/inspircd"
ATHEME = "/usr/bin/atheme-services"
NGIRCD = "/usr/sbin/ngircd"
OPENSSL = "/usr/bin/openssl"


def free_port():
    """A port nothing listens on right now; the server binds it a moment later."""
    with socket.socket() as s:
        s.bind((HOST, 0))
        return s.getsockname()[1]


def port_taken(port):
    """Whether something listens on `port` already (a port left in TIME_WAIT is free to bind)."""
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind((HOST, port))
        except OSError:
            return True
        return False


def render(template, target, **values):
    with open(os.path.join(HERE, template)) as f:
        text = f.read()
    for key, value in values.items():
        text = text.replace(f"@{key}@", str(value))
    with open(target, "w") as f:
        f.write(text)


def require(path):
    if not os.access(path, os.X_OK):
        raise RuntimeError(f"{path} is missing: scripts/setup.sh installs it")


class ChildServer:
    """One server process; `stop` ends it by its PID on every way out."""

    def __init__(self, name, argv, workdir, port):
        self.name, self.argv, self.workdir, self.port = name, argv, workdir, port
        self.process = None
        self.output_path = os.path.join(workdir, f"{name}.out")

    def spawn(self):
        output = open(self.output_path, "ab")
        try:
            self.process = subprocess.Popen(self.argv, cwd=self.workdir, stdin=subprocess.DEVNULL,
                                            stdout=output, stderr=subprocess.STDOUT, start_new_session=True)
        finally:
            output.close()

    def start(self, timeout=10.0):
        self.spawn()
        self.wait_listening(timeout)
        return self

    def wait_listening(self, timeout):
        deadline = time.monotonic() + timeout
        while True:
            if self.process.poll() is not None:
                raise RuntimeError(f"{self.name} exited with {self.process.returncode}:\n{self.output()}")
            try:
                socket.create_connection((HOST, self.port), timeout=1).close()
                return
            except OSError:
                if time.monotonic() > deadline:
                    raise RuntimeError(f"{self.name} does not listen on {self.port}:\n{self.output()}")
                time.sleep(0.02)  # a listening socket sends no notice of its own

    def output(self):
        try:
            with open(self.output_path, errors="replace") as f:
                return f.read()[-4000:]
        except OSError:
            return ""

    def running(self):
        return self.process is not None and self.process.poll() is None

    def stop(self, sig=signal.SIGTERM):
        if not self.running():
            return
        os.kill(self.process.pid, sig)
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            os.kill(self.process.pid, signal.SIGKILL)
            self.process.wait()

    def kill(self):
        """Ends the server at once, as a crash would."""
        self.stop(signal.SIGKILL)


def make_certificate(folder, name, hosts=()):
    """A self-signed certificate made for this run, `folder/name.pem`, and its key beside it as
    `name.key`; returns both paths. `hosts` are the names a client checks (a server's), and a
    certificate without them serves a client that shows it (SASL EXTERNAL)."""
    require(OPENSSL)
    os.makedirs(folder, exist_ok=True)
    certfile, keyfile = os.path.join(folder, f"{name}.pem"), os.path.join(folder, f"{name}.key")
    names = ",".join(("IP:" if host[0].isdigit() else "DNS:") + host for host in hosts)
    argv = [OPENSSL, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-days", "30", "-subj", f"/CN={hosts[0] if hosts else name}", "-keyout", keyfile, "-out", certfile]
    if names:
        argv += ["-addext", f"subjectAltName={names}"]
    made = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if made.returncode != 0:
        raise RuntimeError(f"openssl could not make a certificate:\n{made.stderr}")
    return certfile, keyfile


def fingerprint(certfile):
    """The SHA-256 of a certificate as InspIRCd reports it to services: lower-case hex."""
    with open(certfile) as f:
        return hashlib.sha256(ssl.PEM_cert_to_DER_cert(f.read())).hexdigest()


def inspircd(workdir, port=None, services_port=None, tls=False, tls_port=None):
    """InspIRCd with the IRCv3 modules, taking clients on `port`; with `services_port`, a link for
    Atheme and SASL. With `tls` the client port speaks TLS, and `tls_port` adds a TLS port beside
    a plain one; the certificate, made for this run, is the server's `cafile`, its key `keyfile`."""
    require(INSPIRCD)
    os.makedirs(workdir, exist_ok=True)
    port = port or free_port()
    services = tls_modules = ""
    if services_port:
        render("inspircd-services.conf.in", os.path.join(workdir, "services.conf"),
               LINK_PORT=services_port, LINK_PASSWORD=LINK_PASSWORD)
        services = f'<include file="{workdir}/services.conf">'
    cafile = keyfile = None
    if tls or tls_port:
        cafile, keyfile = make_certificate(workdir, "server", hosts=(HOST, "localhost"))
        render("inspircd-tls.conf.in", os.path.join(workdir, "tls.conf"), CERTFILE=cafile, KEYFILE=keyfile)
        tls_modules = f'<include file="{workdir}/tls.conf">'
    binds = [(port, tls)] + ([(tls_port, True)] if tls_port else [])
    config = os.path.join(workdir, "inspircd.conf")
    render("inspircd.conf.in", config, DIR=workdir, SERVICES=services, TLS=tls_modules, BINDS="\n".join(
        f'<bind address="{HOST}" port="{p}" type="clients"' + (' sslprofile="tessel">' if secure else ">")
        for p, secure in binds))
    with open(os.path.join(workdir, "motd.txt"), "w") as f:
        f.write("A throwaway server for tessel_client.\n")
    argv = [INSPIRCD, "--config", config, "--nofork"]
    if os.geteuid() == 0:
        argv.append("--runasroot")
    server = ChildServer("inspircd", argv, workdir, port)
    server.tls, server.tls_port, server.cafile, server.keyfile = tls, tls_port, cafile, keyfile
    return server


def atheme(workdir, link_port):
    """Atheme services (NickServ, SaslServ with PLAIN) that link to InspIRCd on `link_port`."""
    require(ATHEME)
    os.makedirs(workdir, exist_ok=True)
    config = os.path.join(workdir, "atheme.conf")
    render("atheme.conf.in", config, LINK_PORT=link_port, LINK_PASSWORD=LINK_PASSWORD)
    argv = [ATHEME, "-n", "-c", config, "-D", workdir, "-l", os.path.join(workdir, "atheme.log"),
            "-p", os.path.join(workdir, "atheme.pid")]
    return AthemeServer("atheme", argv, workdir, link_port)


class AthemeServer(ChildServer):
    """Atheme listens on nothing: it is up once its services are seen on the IRC server."""

    def start(self, timeout=10.0, irc_port=None, tls=None):
        self.spawn()
        if irc_port:
            self.wait_linked(irc_port, timeout, tls)
        return self

    def wait_linked(self, irc_port, timeout, tls=None):
        deadline = time.monotonic() + timeout
        with RawIrc(irc_port, "linkwait", tls=tls) as irc:
            while set(irc.ison("NickServ", "SaslServ")) != {"NickServ", "SaslServ"}:
                if self.process.poll() is not None:
                    raise RuntimeError(f"atheme exited with {self.process.returncode}:\n{self.output()}")
                if time.monotonic() > deadline:
                    raise RuntimeError(f"atheme did not link:\n{self.output()}")
                time.sleep(0.05)  # the link's progress is not announced to clients


def ngircd(workdir, port=None):
    """ngIRCd: registration without IRCv3 capabilities."""
    require(NGIRCD)
    os.makedirs(workdir, exist_ok=True)
    # ngIRCd drops root for "nobody", which must still be able to write its PID file.
    run = os.path.join(workdir, "run")
    os.makedirs(run, exist_ok=True)
    os.chmod(run, 0o777)
    port = port or free_port()
    config = os.path.join(workdir, "ngircd.conf")
    render("ngircd.conf.in", config, PORT=port, DIR=workdir)
    return ChildServer("ngircd", [NGIRCD, "--nodaemon", "--config", config], workdir, port)


class RawIrc:
    """A registered IRC connection, over TLS with an `ssl.SSLContext` as `tls`: send lines, read
    lines until one matches."""

    def __init__(self, port, nick, caps=(), timeout=10.0, tls=None):
        self.nick = nick
        self.sock = socket.create_connection((HOST, port), timeout=timeout)
        if tls is not None:
            self.sock = tls.wrap_socket(self.sock, server_hostname=HOST)
        self.buffer = b""
        self.timeout = timeout
        if caps:
            self.send("CAP REQ :" + " ".join(caps))
        self.send(f"NICK {nick}", f"USER {nick} 0 * :{nick}")
        if caps:
            self.send("CAP END")
        self.until(lambda words: words[1] == "001")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        try:
            self.sock.sendall(b"QUIT\r\n")
        except OSError:
            pass
        self.sock.close()

    def send(self, *lines):
        self.sock.sendall("".join(line + "\r\n" for line in lines).encode())

    def lines(self):
        """The next complete line, split into words with the trailing parameter as one word."""
        while b"\n" not in self.buffer:
            data = self.sock.recv(65536)
            if not data:
                raise ConnectionError("the server closed the connection")
            self.buffer += data
        line, self.buffer = self.buffer.split(b"\n", 1)
        text = line.rstrip(b"\r").decode(errors="replace")
        if text.startswith("@"):
            text = text.split(" ", 1)[1]
        if not text.startswith(":"):
            text = ": " + text
        head, _, trailing = text.partition(" :")
        words = head.split(" ")
        if _:
            words.append(trailing)
        if words[1] == "PING":
            self.send("PONG :" + words[-1])
        return words

    def until(self, match):
        """Every line up to and including the first for which `match(words)` holds."""
        seen = []
        deadline = time.monotonic() + self.timeout
        while True:
            self.sock.settimeout(max(0.01, deadline - time.monotonic()))
            words = self.lines()
            seen.append(words)
            if len(words) > 1 and match(words):
                return seen

    def ison(self, *nicks):
        self.send("ISON " + " ".join(nicks))
        return self.until(lambda w: w[1] == "303")[-1][-1].split()

    def names(self, channel):
        """The members of `channel` as the server lists them: nick -> prefix symbols."""
        self.send(f"NAMES {channel}")
        members = {}
        for words in self.until(lambda w: w[1] == "366"):
            if words[1] == "353":
                for entry in words[-1].split():
                    nick = entry.lstrip("~&@%+")
                    members[nick.split("!")[0]] = entry[: len(entry) - len(nick)]
        return members

    def topic(self, channel):
        """The channel's topic as the server holds it, or None."""
        self.send(f"TOPIC {channel}")
        reply = self.until(lambda w: w[1] in ("331", "332", "403", "442"))[-1]
        return reply[-1] if reply[1] == "332" else None


def register_account(port, account, password, certificates=(), tls=None):
    """Registers `account` with NickServ over a connection of its own, and adds the fingerprints
    of `certificates` (PEM files) to it, so that SASL EXTERNAL logs in with them."""
    with RawIrc(port, account, tls=tls) as irc:
        def tell(text, answer):
            irc.send(f"PRIVMSG NickServ :{text}")
            reply = irc.until(lambda w: w[1] == "NOTICE" and w[0].startswith(":NickServ!"))[-1][-1]
            if answer not in reply:
                raise RuntimeError(f"NickServ refused {text.split()[0]} for {account}: {reply}")

        tell(f"REGISTER {password} {account}@example.test", "registered")
        for certfile in certificates:
            tell(f"CERT ADD {fingerprint(certfile)}", "Added fingerprint")


class Network:
    """InspIRCd on loopback as scripts/ircd/with_server.py starts it: on `port` (else a free one),
    with TLS on a certificate made for this run (its path is `cafile`) when `tls`, and Atheme
    linked to it for SASL when `services`. `tls_port` adds a TLS port beside a plain one."""

    def __init__(self, workdir, port=None, tls=False, services=False, tls_port=None):
        link_port = free_port() if services else None
        self.ircd = inspircd(os.path.join(workdir, "inspircd"), port, link_port, tls, tls_port)
        self.atheme = atheme(os.path.join(workdir, "atheme"), link_port) if services else None
        self.port, self.tls_port, self.tls = self.ircd.port, tls_port, tls
        self.cafile, self.keyfile = self.ircd.cafile, self.ircd.keyfile

    def context(self):
        """An SSL context that trusts this server's certificate, for a port that speaks TLS."""
        return ssl.create_default_context(cafile=self.cafile)

    def start(self):
        self.ircd.start()
        if self.atheme:
            self.atheme.start(irc_port=self.port, tls=self.context() if self.tls else None)
        return self

    def stop(self):
        if self.atheme:
            self.atheme.stop()
        self.ircd.stop()


def remove_tree(path):
    shutil.rmtree(path, ignore_errors=True)
