#!/usr/bin/env python3
"""The client generator: a stale committed file is named; a broken failure table is refused;
the Python exceptions follow the table's situations; a class or member without a capability,
or a capability rule that covers nothing, is refused.

  generator_test.py SOURCE_TREE TYPELIB_JSON
"""
import json
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

TREE = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).parents[3]
TYPELIB = pathlib.Path(sys.argv[2]) if len(sys.argv) > 2 else None
GENERATOR = TREE / "scripts/generate-clients"
TABLE = TREE / "src/automation/failures/failures.json"
STATUS_WORDS = TREE / "src/support/status_words.cpp"
KEPT = ["web/carvix.d.ts.in", "web/carvix.d.ts", "web/carvix.js", "web/extension/failures.js",
        "python/carvix/_failures.py", "python/carvix/_interfaces.py",
        "python/carvix/_interfaces.pyi", "python/carvix/py.typed",
        "tools/bridge/capabilities.json", "tools/bridge/capability_table.inc",
        "web/extension/capabilities.js", "CMakeLists.txt",
        "tools/bridge/protocol_version.h", "tools/bridge/METHODS.md",
        "web/extension/manifest.json", "web/extension/version.js"]


def copy_of_tree(folder):
    """The files the generator reads and keeps, copied into FOLDER, as a tree of their own."""
    tree = pathlib.Path(folder)
    for name in KEPT:
        (tree / name).parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(TREE / name, tree / name)
    return tree


def run(*args, table=TABLE, tree=TREE):
    return subprocess.run([sys.executable, str(GENERATOR), "--table", str(table),
                           "--status-words", str(STATUS_WORDS), "--typelib", str(TYPELIB),
                           "--tree", str(tree), *args], capture_output=True, text=True)


class Staleness(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.tree = copy_of_tree(self.folder.name)

    def tearDown(self):
        self.folder.cleanup()

    def test_a_copy_of_the_tree_is_current_and_an_edited_file_is_named(self):
        self.assertEqual(run("--check", tree=self.tree).returncode, 0)
        stub = self.tree / "python/carvix/_interfaces.pyi"
        stub.write_text(stub.read_text() + "# edited by hand\n")
        checked = run("--check", tree=self.tree)
        self.assertEqual(checked.returncode, 1)
        self.assertIn("python/carvix/_interfaces.pyi", checked.stderr)
        self.assertNotIn("web/carvix.d.ts\n", checked.stderr)
        self.assertIn("--target client_files", checked.stderr)

    def test_a_changed_table_makes_every_table_client_stale_and_write_mends_them(self):
        table = json.loads(TABLE.read_text())
        table["failures"][0]["meaning"] = "a meaning nobody generated yet"
        changed = self.tree / "failures.json"
        changed.write_text(json.dumps(table))
        checked = run("--check", table=changed, tree=self.tree)
        self.assertEqual(checked.returncode, 1)
        for name in ["web/carvix.js", "web/extension/failures.js", "python/carvix/_failures.py",
                     "web/carvix.d.ts"]:
            self.assertIn(name, checked.stderr)
        self.assertEqual(run("--write", table=changed, tree=self.tree).returncode, 0)
        self.assertEqual(run("--check", table=changed, tree=self.tree).returncode, 0)
        self.assertIn("a meaning nobody generated yet",
                      (self.tree / "web/extension/failures.js").read_text())

    def test_the_versions_come_from_the_project_and_the_protocol_header(self):
        cmake = self.tree / "CMakeLists.txt"
        cmake.write_text(cmake.read_text().replace("project(carvix-qx VERSION ",
                                                   "project(carvix-qx VERSION 7.8.9 #", 1))
        header = self.tree / "tools/bridge/protocol_version.h"
        header.write_text(header.read_text().replace("kProtocolMinor = ", "kProtocolMinor = 4", 1))
        checked = run("--check", tree=self.tree)
        self.assertEqual(checked.returncode, 1)
        for name in ["web/carvix.js", "web/extension/version.js", "web/extension/manifest.json"]:
            self.assertIn(name, checked.stderr)
        self.assertEqual(run("--write", tree=self.tree).returncode, 0)
        version = (self.tree / "web/extension/version.js").read_text()
        self.assertIn('VERSION = "7.8.9"', version)
        self.assertRegex(version, r'PROTOCOL = "\d+\.4\d*"')
        self.assertIn('"version": "7.8.9"', (self.tree / "web/extension/manifest.json").read_text())
        self.assertIn('VERSION = "7.8.9"', (self.tree / "web/carvix.js").read_text())

    def test_a_missing_file_is_stale(self):
        (self.tree / "python/carvix/py.typed").unlink()
        checked = run("--check", tree=self.tree)
        self.assertEqual(checked.returncode, 1)
        self.assertIn("python/carvix/py.typed", checked.stderr)


class BrokenTables(unittest.TestCase):
    def generate(self, table):
        with tempfile.TemporaryDirectory() as folder:
            path = pathlib.Path(folder) / "failures.json"
            path.write_text(json.dumps(table))
            return subprocess.run([sys.executable, str(GENERATOR), "--table", str(path),
                                   "--status-words", str(STATUS_WORDS), "--cpp", folder],
                                  capture_output=True, text=True)

    def test_a_code_twice_or_an_unknown_situation_is_refused(self):
        table = json.loads(TABLE.read_text())
        twice = json.loads(json.dumps(table))
        twice["failures"].append(dict(twice["failures"][0], name="Another"))
        result = self.generate(twice)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("twice", result.stderr)
        unknown = json.loads(json.dumps(table))
        unknown["failures"][0]["situation"] = "NoSuchSituation"
        result = self.generate(unknown)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("NoSuchSituation", result.stderr)

    def test_the_cpp_rows_are_sorted_by_code(self):
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run([sys.executable, str(GENERATOR), "--table", str(TABLE),
                            "--status-words", str(STATUS_WORDS), "--cpp", folder], check=True)
            rows = (pathlib.Path(folder) / "failure_rows.inc").read_text().splitlines()
            codes = [int(line[1:11], 16) for line in rows if line.startswith("{0x")]
            self.assertEqual(codes, sorted(codes))
            self.assertEqual(len(codes), len(json.loads(TABLE.read_text())["failures"]))


class CapabilityRules(unittest.TestCase):
    """Every class and member of the type library needs a capability before anything is
    generated."""

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.tree = copy_of_tree(self.folder.name)
        self.rules_path = self.tree / "tools/bridge/capabilities.json"
        self.rules = json.loads(self.rules_path.read_text())
        self.typelib = json.loads(TYPELIB.read_text())

    def tearDown(self):
        self.folder.cleanup()

    def check(self, typelib=None):
        path = self.tree / "typelib.json"
        path.write_text(json.dumps(typelib or self.typelib))
        self.rules_path.write_text(json.dumps(self.rules))
        return subprocess.run([sys.executable, str(GENERATOR), "--table", str(TABLE),
                               "--status-words", str(STATUS_WORDS), "--typelib", str(path),
                               "--tree", str(self.tree), "--check"],
                              capture_output=True, text=True)

    def test_a_new_member_or_class_without_a_capability_is_refused(self):
        admin = next(i for i in self.typelib["interfaces"] if i["name"] == "IDocAdminService")
        admin["members"].append({"name": "EraseCard", "kind": "method", "params": []})
        self.typelib["coclasses"].append(dict(self.typelib["coclasses"][0], name="NewService",
                                              versionIndependentProgId="CARVIX.New"))
        result = self.check()
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("IDocAdminService.EraseCard (method) has no capability", result.stderr)
        self.assertIn("class NewService (CARVIX.New) has no capability", result.stderr)

    def test_a_rule_that_covers_nothing_or_names_an_unknown_capability_is_refused(self):
        self.rules["members"]["IDocAdminService"]["method Erase*"] = "write"
        self.rules["members"]["IPKIService"]["method GenerateKeyPair"] = "pki admin"
        result = self.check()
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("'method Erase*' of IDocAdminService covers no member", result.stderr)
        self.assertIn("unknown capability admin", result.stderr)

    def test_an_exact_name_wins_over_a_pattern_and_every_member_has_a_row(self):
        self.assertEqual(self.check().returncode, 0)
        table = (TREE / "web/extension/capabilities.js").read_text()
        self.assertIn('"method readvlcontactlessdata": ["contactless"]', table)
        self.assertIn('"method readvldocumentdata": ["read"]', table)
        self.assertIn('"method updatevlcontactlessdata": ["write", "contactless"]', table)
        rows = (TREE / "tools/bridge/capability_table.inc").read_text()
        for interface in self.typelib["interfaces"]:
            for member in interface["members"]:
                self.assertIn(f'{{"{interface["name"]}", "{member["name"]}", ', rows)


class PythonExceptions(unittest.TestCase):
    """The exception classes by situation, without a runtime (messages are given)."""

    @classmethod
    def setUpClass(cls):
        sys.path.insert(0, str(TREE / "python"))
        import carvix
        cls.carvix = carvix

    def error(self, hresult):
        return self.carvix.ComError(hresult, "given")

    def test_each_situation_has_its_class_and_stays_a_com_error(self):
        c = self.carvix
        cases = {0x8010000C: c.NoCardError, 0x80100069: c.CardRemovedError,
                 0x8010000B: c.InUseError, 0x8010006B: c.WrongPinError,
                 0x8010006C: c.PinBlockedError, 0x800704C7: c.CancelledError,
                 0x800401F3: c.NotRegisteredError, 0x80040154: c.NotRegisteredError,
                 0x8010001D: c.NoServiceError, 0x8010002E: c.NoReaderError,
                 0x80090016: c.TokenError, 0x800B0109: c.TrustError,
                 0x80076A82: c.CardRefusedError, 0x800763C1: c.WrongPinError,
                 0x80076983: c.PinBlockedError}
        for hresult, cls in cases.items():
            with self.subTest(hex(hresult)):
                error = self.error(hresult)
                self.assertIs(type(error), cls)
                self.assertIsInstance(error, c.ComError)
                self.assertEqual(error.hresult, hresult)
                self.assertEqual(error.message, "given")
                self.assertTrue(error.meaning)
                with self.assertRaises(c.ComError):
                    raise error

    def test_codes_outside_the_table_stay_plain(self):
        for hresult in (0x80004005, 0x12345678, 0x80106A82, 0x80070057 + 1):
            self.assertIs(type(self.error(hresult)), self.carvix.ComError, hex(hresult))
        self.assertIsNone(self.error(0x12345678).failure)
        self.assertEqual(self.error(0x12345678).meaning, "")

    def test_status_words_carry_their_word_meaning_and_tries(self):
        wrong = self.error(0x800763C2)
        self.assertEqual((wrong.status_word, wrong.tries_left), (0x63C2, 2))
        self.assertEqual(wrong.meaning, "63C2: verification failed, 2 tries left")
        absent = self.error(0x80046A82)
        self.assertEqual(absent.meaning, "6A82: the card has no such application or file")
        self.assertEqual(absent.next_step, "is this the right card?")
        self.assertIsNone(absent.tries_left)
        own = self.error(0x80076F12)
        self.assertEqual(own.meaning, "6F12: a status word the card uses for its own errors")
        self.assertIsNone(self.error(0x8010006B).status_word)
        self.assertEqual(self.carvix.status_word_meaning(0x6C10),
                         "6C10: wrong expected length (16 bytes available)")

    def test_subclasses_keep_unknown_member_and_pickling(self):
        import pickle
        unknown = self.carvix.UnknownMember("Nothing", "IDocAdminService")
        self.assertIsInstance(unknown, AttributeError)
        self.assertEqual(unknown.hresult, 0x80020006)
        again = pickle.loads(pickle.dumps(self.error(0x80100069)))
        self.assertIs(type(again), self.carvix.CardRemovedError)
        self.assertEqual((again.hresult, again.message), (0x80100069, "given"))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
