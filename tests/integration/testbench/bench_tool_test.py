#!/usr/bin/env python3
"""Tests of the bench program (testbench/supervisor/carvix-bench): port choice, start and stop, the
watchdog, and that a failed start leaves no pcscd behind. The benches run as root; where
that is impossible the process tests are skipped and the run exits 77."""

import argparse
import glob
import importlib.machinery
import json
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import types
import unittest

SKIPPED = 77
SYSTEM_PYTHON = "/usr/bin/python3"  # one that an unprivileged user may run


def parse_options():
    parser = argparse.ArgumentParser()
    for name in ("tool", "probe", "vcard", "card"):
        parser.add_argument("--" + name, required=True)
    return parser.parse_known_args()


def load_tool(path):
    loader = importlib.machinery.SourceFileLoader("carvix_bench", path)
    module = types.ModuleType("carvix_bench")
    module.__file__ = path
    loader.exec_module(module)
    return module


sys.dont_write_bytecode = True  # no cache beside the bench program
OPTIONS, UNITTEST_ARGS = parse_options()
TOOL = load_tool(OPTIONS.tool)


def alive(pid):
    """True while PID runs (a zombie counts as ended)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False


def wait_until(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


def processes_naming(text):
    """Pids whose command line contains TEXT."""
    found = []
    for path in glob.glob("/proc/[0-9]*/cmdline"):
        try:
            with open(path, "rb") as f:
                if text.encode() in f.read():
                    found.append(int(path.split("/")[2]))
        except OSError:
            pass
    return [pid for pid in found if pid != os.getpid() and alive(pid)]


def free_port_pair():
    for port in range(24000, 30000, 2):
        if TOOL.port_is_free(port) and TOOL.port_is_free(port + 1):
            return port
    raise RuntimeError("no free port pair for the test")


def private_bench_possible():
    return (os.geteuid() == 0 and shutil.which("pcscd") is not None
            and glob.glob(TOOL.VPCD_DRIVER_GLOB) != [])


class PortChoiceTest(unittest.TestCase):
    def test_skips_pairs_with_a_port_in_use(self):
        port = free_port_pair()
        with socket.socket() as busy:
            busy.bind(("", port + 1))
            busy.listen()
            other = port + 10
            self.assertEqual(TOOL.pick_port_pairs(1, candidates=[port, other]), [other])

    def test_pairs_never_overlap_and_shortage_is_unavailable(self):
        port = free_port_pair()
        self.assertEqual(TOOL.pick_port_pairs(1, candidates=[port, port + 1]), [port])
        self.assertEqual(TOOL.pick_port_pairs(2, candidates=[port, port + 1, port + 2]),
                         [port, port + 2])
        with self.assertRaises(TOOL.BenchUnavailable):
            TOOL.pick_port_pairs(2, candidates=[port, port + 1])
        with self.assertRaises(TOOL.BenchUnavailable):
            TOOL.pick_port_pairs(1, candidates=[port], taken={port + 1})

    def test_candidates_stay_below_the_ephemeral_range(self):
        with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
            low = int(f.read().split()[0])
        candidates = TOOL.candidate_ports()
        self.assertTrue(candidates)
        self.assertTrue(all(p % 2 == 0 and p + 1 < low for p in candidates))


class BenchCase(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="carvix-bench-test.")
        os.chmod(self.work, 0o777)
        self.dir = os.path.join(self.work, "bench")
        # The bench's run folders land here, so the test can look for what it left running.
        self.tmp = os.path.join(self.work, "tmp")
        os.mkdir(self.tmp)
        os.chmod(self.tmp, 0o777)

    def tearDown(self):
        self.tool("stop")
        shutil.rmtree(self.work, ignore_errors=True)

    def tool(self, command, *extra, env=None, user=None):
        python = sys.executable if user is None else SYSTEM_PYTHON
        argv = [python, OPTIONS.tool, command, "--dir", self.dir]
        if command == "start":
            argv += ["--probe", OPTIONS.probe, "--vcard", OPTIONS.vcard]
        if user is not None:
            entry = pwd.getpwnam(user)
            argv = ["setpriv", "--reuid", str(entry.pw_uid), "--regid", str(entry.pw_gid),
                    "--clear-groups"] + argv
        environment = dict(os.environ, TMPDIR=self.tmp)
        environment.pop("CARVIX_BENCH_REQUIRED", None)
        environment.update(env or {})
        return subprocess.run(argv + list(extra), env=environment, capture_output=True,
                              text=True, timeout=120)

    def bench(self):
        with open(os.path.join(self.dir, "bench.json")) as f:
            return json.load(f)

    def supervisor(self):
        with open(os.path.join(self.dir, "bench.lock")) as f:
            return int(f.read())

    def assert_started(self, result):
        self.assertEqual(result.returncode, 0, result.stderr)
        bench = self.bench()
        self.assertEqual(bench["state"], "ready", bench)
        return bench

    def assert_nothing_left(self, pcscd_pid=None):
        if pcscd_pid is not None:
            self.assertTrue(wait_until(lambda: not alive(pcscd_pid), 10), "pcscd still runs")
        self.assertEqual(processes_naming(self.tmp), [])
        self.assertEqual(os.listdir(self.tmp), [])
        self.assertFalse(os.path.exists(os.path.join(self.dir, "bench.json")))
        self.assertFalse(os.path.exists(os.path.join(self.dir, "bench.env")))


@unittest.skipUnless(private_bench_possible(), "a private bench needs root, pcscd and vpcd")
class PrivateBenchTest(BenchCase):
    def test_start_with_a_card_then_stop(self):
        bench = self.assert_started(self.tool("start", "--readers", "2", "--card", OPTIONS.card))
        self.assertEqual(bench["mode"], "private")
        self.assertEqual([s["reader"] for s in bench["slots"]],
                         ["Carvix Bench 1 00 00", "Carvix Bench 1 00 01"])
        self.assertEqual(bench["slots"][1]["port"], bench["slots"][0]["port"] + 1)
        self.assertTrue(alive(bench["pcscd_pid"]))
        self.assertIn("card", bench["slots"][0])
        self.assertNotIn("card", bench["slots"][1])

        # Shells read the same bench from bench.env.
        shell = subprocess.run(
            ["sh", "-c", '. "$1"; echo "$PCSCLITE_CSOCK_NAME|$CARVIX_BENCH_READER_0|'
             '$CARVIX_BENCH_PORT_1|$CARVIX_BENCH_SLOTS"', "sh",
             os.path.join(self.dir, "bench.env")], capture_output=True, text=True, check=True)
        self.assertEqual(shell.stdout.strip(), "%s|Carvix Bench 1 00 00|%d|2" % (
            bench["socket"], bench["slots"][1]["port"]))

        env = dict(os.environ, PCSCLITE_CSOCK_NAME=bench["socket"])
        listed = subprocess.run([OPTIONS.probe, "list"], env=env, capture_output=True,
                                text=True, check=True)
        self.assertEqual(len(listed.stdout.splitlines()), 2)
        present = subprocess.run([OPTIONS.probe, "wait", "Carvix Bench 1 00 00", "present",
                                  "--timeout", "5"], env=env, capture_output=True)
        self.assertEqual(present.returncode, 0)
        self.assertEqual(self.tool("status").returncode, 0)

        card_pid = bench["slots"][0]["card"]["pid"]
        stopped = self.tool("stop")
        self.assertEqual(stopped.returncode, 0, stopped.stderr)
        self.assertFalse(alive(card_pid))
        self.assert_nothing_left(bench["pcscd_pid"])
        self.assertTrue(TOOL.port_is_free(bench["slots"][0]["port"]))
        self.assertNotEqual(self.tool("status").returncode, 0)

    def test_a_second_start_replaces_the_first(self):
        first = self.assert_started(self.tool("start", "--readers", "1"))
        second = self.assert_started(self.tool("start", "--readers", "1"))
        self.assertFalse(alive(first["pcscd_pid"]))
        self.assertTrue(alive(second["pcscd_pid"]))
        self.assertEqual(len(processes_naming(self.tmp)), 1)

    def test_a_card_that_fails_to_start_stops_pcscd_at_once(self):
        broken = os.path.join(self.work, "broken.json")
        with open(broken, "w") as f:
            f.write("{ this is not a card image")
        result = self.tool("start", "--readers", "2", "--card", broken)
        self.assertEqual(result.returncode, 1)
        self.assertIn("slot 0", result.stderr)
        # Checked right away: the start command returns only after the teardown.
        self.assertEqual(processes_naming(self.tmp), [])
        self.assert_nothing_left()

    def test_more_cards_than_readers_is_an_error(self):
        result = self.tool("start", "--readers", "1", *["--card", OPTIONS.card] * 3)
        self.assertEqual(result.returncode, 1)
        self.assertIn("no reader slot 2", result.stderr)
        self.assert_nothing_left()

    def test_the_bench_ends_with_the_watched_process(self):
        watched = subprocess.Popen(["sleep", "60"])
        try:
            bench = self.assert_started(self.tool("start", "--readers", "1", "--watch-pid",
                                                  str(watched.pid)))
            supervisor = self.supervisor()
            self.assertTrue(alive(supervisor))
        finally:
            watched.kill()
            watched.wait()
        self.assertTrue(wait_until(lambda: not alive(supervisor), 10))
        self.assert_nothing_left(bench["pcscd_pid"])

    def test_a_killed_supervisor_takes_pcscd_with_it(self):
        bench = self.assert_started(self.tool("start", "--readers", "1"))
        os.kill(self.supervisor(), signal.SIGKILL)
        self.assertTrue(wait_until(lambda: not alive(bench["pcscd_pid"]), 10))
        self.assertEqual(self.tool("stop").returncode, 0)  # clears what was left
        self.assertFalse(os.path.exists(os.path.join(self.dir, "bench.json")))


@unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv") and os.path.exists(SYSTEM_PYTHON)
                     and not os.path.exists(TOOL.SYSTEM_SOCKET),
                     "needs root to switch users, a system python3 and no system pcscd")
class UnavailableBenchTest(BenchCase):
    def test_without_root_or_system_pcscd_the_bench_is_unavailable(self):
        result = self.tool("start", user="nobody")
        self.assertEqual(result.returncode, 0, result.stderr)
        bench = self.bench()
        self.assertEqual(bench["state"], "unavailable")
        self.assertIn("not root", bench["reason"])
        required = self.tool("start", user="nobody", env={"CARVIX_BENCH_REQUIRED": "1"})
        self.assertEqual(required.returncode, 1)


def main():
    program = unittest.main(argv=[sys.argv[0]] + UNITTEST_ARGS, exit=False, verbosity=2)
    if not program.result.wasSuccessful():
        return 1
    return SKIPPED if not private_bench_possible() else 0


if __name__ == "__main__":
    sys.exit(main())
