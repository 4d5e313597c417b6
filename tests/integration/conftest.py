"""Real IRC servers on loopback for the integration suite, started once and stopped by PID.

The servers come from Debian (scripts/setup.sh installs them); their configurations are
written into a temporary directory and every port is one the system handed out.
"""
import itertools
import os
import sys
import tempfile

import pytest

_root = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
_build = os.environ.get("TESSEL_BUILD_DIR") or os.path.join(_root, "build")
for path in (os.path.join(os.path.abspath(_build), "python"), os.path.join(_root, "scripts", "ircd")):
    if path not in sys.path:
        sys.path.insert(0, path)

import local_servers  # noqa: E402
from irc_host import Net  # noqa: E402

ACCOUNT = "tesselacct"
PASSWORD = "right-password"


class Services:
    """InspIRCd with Atheme linked to it, and one account registered with NickServ."""

    def __init__(self, workdir):
        link_port = local_servers.free_port()
        self.ircd = local_servers.inspircd(os.path.join(workdir, "inspircd"), services_port=link_port).start()
        self.atheme = local_servers.atheme(os.path.join(workdir, "atheme"), link_port)
        self.port = self.ircd.port
        self.account, self.password = ACCOUNT, PASSWORD

    def start(self):
        self.atheme.start(irc_port=self.port)
        local_servers.register_account(self.port, self.account, self.password)
        return self

    def stop(self):
        self.atheme.stop()
        self.ircd.stop()


@pytest.fixture(scope="session")
def workdir():
    path = tempfile.mkdtemp(prefix="tessel-integration-")
    yield path
    local_servers.remove_tree(path)


@pytest.fixture(scope="session")
def services(workdir):
    server = Services(workdir)
    try:
        yield server.start()
    finally:
        server.stop()


@pytest.fixture(scope="session")
def ngircd(workdir):
    server = local_servers.ngircd(os.path.join(workdir, "ngircd")).start()
    try:
        yield server
    finally:
        server.stop()


@pytest.fixture
def inspircd(tmp_path):
    """A server of the test's own, for tests that kill it."""
    server = local_servers.inspircd(str(tmp_path / "inspircd"))
    try:
        yield server.start()
    finally:
        server.stop()


@pytest.fixture
def net():
    hosts = Net()
    try:
        yield hosts
    finally:
        hosts.close()


_serial = itertools.count(1)


@pytest.fixture
def unique():
    """Names no other test on the same server uses: unique("nick") -> "nick7"."""
    n = next(_serial)
    return lambda stem: f"{stem}{n}"
