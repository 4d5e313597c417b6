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


class Services(local_servers.Network):
    """InspIRCd with Atheme linked to it, plain text on `port` and TLS on `tls_port`, as a
    network has them, and one account registered with NickServ that a client certificate
    (`client_cert`, `client_key`) logs in to by SASL EXTERNAL."""

    def __init__(self, workdir):
        super().__init__(workdir, services=True, tls_port=local_servers.free_port())
        self.account, self.password = ACCOUNT, PASSWORD
        self.client_cert, self.client_key = local_servers.make_certificate(workdir, "client")

    def start(self):
        super().start()
        local_servers.register_account(self.port, self.account, self.password, certificates=[self.client_cert])
        return self


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
