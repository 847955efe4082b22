"""The test bench from Python: the programs under test, a throw-away profile with the module
registered, the bench itself (the ctest fixture's, or one of our own) and virtual cards in
its readers.

Paths come from the environment that the ctest entry sets, with the build folder of this
source tree as the default, so `python3 -m pytest python/tests` works after a build."""
import fcntl
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.join(ROOT, "build")


def path(variable, *default):
    return os.environ.get(variable) or os.path.join(BUILD, *default)


CLI = path("CARVIX_CLI", "tools", "carvix", "carvix")
MODULE = path("CARVIX_QX_MODULE", "src", "com", "carvix-qx.so")
VCARD = path("CARVIX_VCARD", "testbench", "vcard", "carvix-vcard")
PROBE = path("CARVIX_PROBE", "testbench", "probe", "carvix-probe")
PERSO = path("CARVIX_PERSO", "testbench", "perso", "carvix-perso")
SAMPLE_CARDS = path("CARVIX_SAMPLE_CARDS", "tests", "integration", "app", "cards")
BENCH_TOOL = os.path.join(ROOT, "testbench", "supervisor", "carvix-bench")
PERSO_DIR = os.path.join(ROOT, "tests", "data", "perso")
INSTALLED = os.environ.get("CARVIX_PYTHON_INSTALLED") == "1"


def use_fresh_profile():
    """Points HOME and the class stores at a new folder, registers the module there and
    returns the folder."""
    root = tempfile.mkdtemp(prefix="carvix-python-test.")
    os.environ.update(HOME=root, XDG_CONFIG_HOME=os.path.join(root, "config"),
                      XDG_CONFIG_DIRS=os.path.join(root, "system"),
                      XDG_DATA_HOME=os.path.join(root, "data"))
    run = subprocess.run([CLI, "register", "--module", MODULE], capture_output=True, text=True,
                         stdin=subprocess.DEVNULL)
    if run.returncode != 0:
        raise RuntimeError(f"carvix register failed: {run.stderr}")
    return root


def run_cli(*args):
    return subprocess.run([CLI, *args], capture_output=True, text=True, stdin=subprocess.DEVNULL)


class Bench:
    """The running bench as bench.json describes it; `own` when this process started it."""

    def __init__(self, directory, own):
        self.directory = directory
        self.own = own
        try:
            with open(os.path.join(directory, "bench.json"), encoding="utf-8") as f:
                doc = json.load(f)
        except (OSError, ValueError) as error:
            doc = {"reason": f"no readable bench description in {directory}: {error}"}
        self.ready = doc.get("state") == "ready" and bool(doc.get("slots"))
        self.reason = doc.get("reason") or "the bench lists no readers"
        self.socket = doc.get("socket", "")
        self.locks = doc.get("locks", "")
        self.slots = [(s["reader"], s["port"]) for s in doc.get("slots", [])]

    @classmethod
    def find_or_start(cls):
        directory = os.environ.get("CARVIX_BENCH_DIR")
        if directory:
            return cls(directory, own=False)
        directory = tempfile.mkdtemp(prefix="carvix-bench-python.")
        subprocess.run([sys.executable, BENCH_TOOL, "start", "--dir", directory, "--readers", "2",
                        "--watch-pid", str(os.getpid()), "--probe", PROBE, "--vcard", VCARD],
                       stdin=subprocess.DEVNULL, check=False)
        return cls(directory, own=True)

    def stop(self):
        if self.own:
            subprocess.run([sys.executable, BENCH_TOOL, "stop", "--dir", self.directory],
                           stdin=subprocess.DEVNULL, check=False)
            shutil.rmtree(self.directory, ignore_errors=True)


def _ask(control, line):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.settimeout(5)
        s.connect(control)
        s.sendall(line.encode() + b"\n")
        answer = b""
        while not answer.endswith(b"\n"):
            chunk = s.recv(256)
            if not chunk:
                break
            answer += chunk
    return answer.decode().strip()


def wait_for_card(bench, reader, state, timeout=10):
    env = dict(os.environ, PCSCLITE_CSOCK_NAME=bench.socket)
    done = subprocess.run([PROBE, "wait", reader, state, "--timeout", str(timeout)], env=env,
                          capture_output=True, stdin=subprocess.DEVNULL)
    return done.returncode == 0


class BenchCard:
    """A virtual card on a private copy of `image` in a free bench reader (a lock per reader,
    so tests of other programs run beside these). `close()` takes it out again."""

    def __init__(self, bench, image):
        self.bench = bench
        self._process = self._out = None
        self._lock = self._take_slot()
        self.reader, port = bench.slots[self._slot]
        self.dir = tempfile.mkdtemp(prefix="carvix-card-python.")
        try:
            self.image = os.path.join(self.dir, "image.json")
            shutil.copyfile(image, self.image)
            control = os.path.join(self.dir, "control.sock")
            self._out = open(os.path.join(self.dir, "vcard.out"), "wb")
            self._process = subprocess.Popen(
                [VCARD, "run", "--image", self.image, "--port", str(port), "--log",
                 os.path.join(self.dir, "apdu.log"), "--control", control],
                stdout=self._out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
            self._wait_started(control)
            if not wait_for_card(bench, self.reader, "present"):
                raise RuntimeError(f"the card did not appear in {self.reader}")
        except BaseException:
            self.close()
            raise

    def _take_slot(self):
        os.makedirs(self.bench.locks, exist_ok=True)
        deadline = time.monotonic() + 300
        while time.monotonic() < deadline:
            for i in range(len(self.bench.slots)):
                fd = os.open(os.path.join(self.bench.locks, f"slot-{i}.lock"),
                             os.O_RDONLY | os.O_CREAT, 0o666)
                try:
                    fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
                except OSError:
                    os.close(fd)
                    continue
                self._slot = i
                return fd
            time.sleep(0.2)
        raise RuntimeError("no free bench reader within 5 minutes")

    def _wait_started(self, control):
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self._process.poll() is not None:
                raise RuntimeError("carvix-vcard exited: " + self._output())
            try:
                if _ask(control, "ping") == "ok":
                    return
            except OSError:
                pass
            time.sleep(0.02)
        raise RuntimeError("carvix-vcard did not start: " + self._output())

    def _output(self):
        with open(os.path.join(self.dir, "vcard.out"), encoding="utf-8", errors="replace") as f:
            return f.read()

    def close(self):
        if self._process is not None:
            self._process.send_signal(signal.SIGTERM)
            try:
                self._process.wait(5)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
            self._process = None
            # The next user of this reader must not see this card as still present.
            wait_for_card(self.bench, self.reader, "empty", timeout=5)
        if self._out is not None:
            self._out.close()
            self._out = None
        shutil.rmtree(self.dir, ignore_errors=True)
        if self._lock is not None:
            os.close(self._lock)
            self._lock = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
