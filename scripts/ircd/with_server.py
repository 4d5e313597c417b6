"""Runs a command against a throwaway InspIRCd on 127.0.0.1 and stops the server after it.

    python3 scripts/ircd/with_server.py [--tls] [--services] [--port N] COMMAND [ARG...]

Every "{port}" in the arguments becomes the server's port, and with --tls every "{cafile}" the
path of the certificate made for this run, which a client trusts as its CA. --services links
Atheme (NickServ, SaslServ) to the server; --port asks for a port instead of a free one, so that
a bot can meet the server again after a restart. The exit status is the command's. Ctrl-C,
SIGTERM and SIGHUP end the command and the server, and the server's folder goes with them.
"""
import argparse
import signal
import subprocess
import sys
import tempfile

import local_servers

STOPPING = (signal.SIGTERM, signal.SIGHUP)


class Stopped(Exception):
    """A signal asked us to stop; the cleanup is that of Ctrl-C."""

    def __init__(self, signum):
        super().__init__(signum)
        self.signum = signum


def on_signal(signum, frame):
    for each in STOPPING:
        signal.signal(each, signal.SIG_IGN)  # one cleanup, whatever follows
    raise Stopped(signum)


def describe(network):
    where = f"InspIRCd listening on {local_servers.HOST}:{network.port}"
    tls = f"TLS with the certificate {network.cafile}" if network.tls else "plain text"
    services = "Atheme services (NickServ, SaslServ)" if network.atheme else "no services"
    return f"{where}, {tls}, {services}"


def end(command, signum=None):
    """Passes the signal on to the command, if not already its, and waits a little for it to go."""
    if command is None or command.poll() is not None:
        return
    if signum is not None:
        command.send_signal(signum)
    try:
        command.wait(timeout=5)
    except subprocess.TimeoutExpired:
        command.kill()
        command.wait()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tls", action="store_true", help="take clients with TLS only")
    parser.add_argument("--services", action="store_true", help="link Atheme for accounts and SASL")
    parser.add_argument("--port", type=int, help="listen on this port instead of a free one")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args(argv)
    if not args.command:
        parser.error("a command to run is missing")
    if args.port is not None and not 0 < args.port < 65536:
        parser.error(f"--port {args.port} is no TCP port")
    if args.port and local_servers.port_taken(args.port):
        parser.error(f"port {args.port} of {local_servers.HOST} is taken")

    for each in STOPPING:
        signal.signal(each, on_signal)
    workdir = tempfile.mkdtemp(prefix="tessel-ircd-")
    network = command = None
    try:
        network = local_servers.Network(workdir, port=args.port, tls=args.tls, services=args.services)
        network.start()
        print(describe(network), flush=True)
        values = {"{port}": str(network.port), "{cafile}": network.cafile or "{cafile}"}
        argv = []
        for arg in args.command:
            for key, value in values.items():
                arg = arg.replace(key, value)
            argv.append(arg)
        command = subprocess.Popen(argv)
        return command.wait()
    except (RuntimeError, OSError) as error:
        print(error, file=sys.stderr)
        return 1
    except KeyboardInterrupt:  # the command had the Ctrl-C too; the server stops below
        end(command)
        return 130
    except Stopped as stop:
        end(command, stop.signum)
        return 128 + stop.signum
    finally:
        if network is not None:
            network.stop()
        local_servers.remove_tree(workdir)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
