"""parse_line and split_source against the public IRC parser test vectors.

The vectors write a tag without a value and a tag with an empty value both as "" (our
parser gives an absent value for both), mean the last occurrence of a repeated tag key,
and compare verbs case-insensitively. A source key that a userhost case leaves out
means the empty string; our split also says whether the user and host parts are there
at all, which follows from the "!" and "@" in the text. Every case of both files agrees
with our grammar, so none is skipped.
"""

import json
import os
import pathlib
import subprocess

import pytest
import yaml

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD_DIR = pathlib.Path(os.environ.get("TESSEL_BUILD_DIR", ROOT / "build"))
VECTORS = pathlib.Path(__file__).resolve().parent / "data"
PROBE = BUILD_DIR / "tests" / "conformance" / "conformance_probe"

def load(name):
    with open(VECTORS / name, encoding="utf-8") as f:
        return yaml.safe_load(f)["tests"]


MSG_CASES = load("msg-split.yaml")
SOURCE_CASES = load("userhost-split.yaml")


@pytest.fixture(scope="module")
def probe_results():
    """Runs the probe once over every case of both files; maps (kind, input) to its answer."""
    assert PROBE.exists(), f"build the probe first: {PROBE} is missing"
    requests = [("line", c["input"]) for c in MSG_CASES] + [("source", c["source"]) for c in SOURCE_CASES]
    stdin = "".join(f"{kind} {text.encode('utf-8').hex()}\n" for kind, text in requests)
    done = subprocess.run([str(PROBE)], input=stdin, capture_output=True, text=True, check=True, timeout=60)
    # One answer per "\n" (splitlines would also cut at U+0085 and U+2028 inside a value).
    answers = [json.loads(line) for line in done.stdout.split("\n")[:-1]]
    assert len(answers) == len(requests)
    return dict(zip(requests, answers))


def case_id(text):
    return text if len(text) <= 60 else text[:57] + "..."


def test_vectors_are_there():
    # An empty list would silently parametrize to no test at all.
    assert MSG_CASES and SOURCE_CASES


@pytest.mark.parametrize("case", MSG_CASES, ids=[case_id(c["input"]) for c in MSG_CASES])
def test_msg_split(case, probe_results):
    atoms = case["atoms"]
    got = probe_results[("line", case["input"])]
    assert got is not None, "the line did not parse"

    tags = {}
    for key, value in got["tags"]:
        tags[key] = value if value is not None else ""  # the last occurrence wins
    assert tags == {str(k): str(v) for k, v in (atoms.get("tags") or {}).items()}
    assert got["source"] == atoms.get("source")
    assert got["command"].lower() == atoms["verb"].lower()
    assert got["params"] == atoms.get("params", [])


@pytest.mark.parametrize("case", SOURCE_CASES, ids=[case_id(c["source"]) for c in SOURCE_CASES])
def test_userhost_split(case, probe_results):
    atoms = case["atoms"]
    got = probe_results[("source", case["source"])]
    # The user part is there after a "!", the host part after an "@" that follows it.
    _, bang, rest = case["source"].partition("!")
    has_host = "@" in (rest if bang else case["source"])
    assert got["name"] == atoms.get("nick", "")
    assert got["user"] == (atoms.get("user", "") if bang else None)
    assert got["host"] == (atoms.get("host", "") if has_host else None)
