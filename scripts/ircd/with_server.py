"""Runs a command against a throwaway InspIRCd on 127.0.0.1 and stops the server after it.

    python3 scripts/ircd/with_server.py COMMAND [ARG...]

Every "{port}" in the arguments becomes the server's port; the exit status is the command's.
Ctrl-C ends the command and the server.
"""
import subprocess
import sys
import tempfile

import local_servers


def main(argv):
    workdir = tempfile.mkdtemp(prefix="tessel-ircd-")
    server = local_servers.inspircd(workdir)
    try:
        server.start()
        print(f"InspIRCd listening on {local_servers.HOST}:{server.port}", flush=True)
        return subprocess.call([arg.replace("{port}", str(server.port)) for arg in argv])
    except RuntimeError as error:
        print(error, file=sys.stderr)
        return 1
    except KeyboardInterrupt:  # the command had the Ctrl-C too; the server stops below
        return 130
    finally:
        server.stop()
        local_servers.remove_tree(workdir)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
