"""Fixtures: a throw-away profile with the module registered (for the whole run, set up
before any test touches the runtime), the bench and cards in its readers."""
import os
import shutil
import sys

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench as B  # noqa: E402

# CARVIX_PYTHON_INSTALLED=1 tests the installed package and runtime (found as users find
# them); otherwise this source tree's package with the runtime of its build folder.
if not B.INSTALLED:
    os.environ.setdefault("CARVIX_COM_LIBRARY", os.path.join(B.BUILD, "src", "automation",
                                                             "libcarvix-com.so"))
    sys.path.insert(0, os.path.join(B.ROOT, "python"))

# No test pops up a desktop dialog unless it asks for one (test_desktop_dialog.py).
os.environ["CARVIX_DIALOG"] = "off"

_profile = None


def pytest_configure(config):
    global _profile
    _profile = B.use_fresh_profile()


def pytest_unconfigure(config):
    if _profile:
        shutil.rmtree(_profile, ignore_errors=True)


@pytest.fixture(scope="session")
def profile():
    return _profile


@pytest.fixture(scope="session")
def bench():
    found = B.Bench.find_or_start()
    if not found.ready:
        found.stop()
        if os.environ.get("CARVIX_BENCH_REQUIRED") == "1":
            pytest.fail(f"the test bench is required but not there: {found.reason}")
        pytest.skip(f"the test bench cannot run here: {found.reason}")
    # PC/SC clients read the daemon's socket name once, at their first call.
    os.environ["PCSCLITE_CSOCK_NAME"] = found.socket
    yield found
    found.stop()


@pytest.fixture
def card(bench):
    """card(image) puts a card in a free reader for the rest of the test."""
    cards = []

    def insert(image):
        cards.append(B.BenchCard(bench, image))
        return cards[-1]
    yield insert
    for c in reversed(cards):
        c.close()


def sample(name, protocol):
    return os.path.join(B.SAMPLE_CARDS, f"{name}-t{protocol}.json")
