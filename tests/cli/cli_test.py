#!/usr/bin/env python3
"""Runs the built daduzozi command on fixtures and checks its output.

Environment:
  DADUZOZI          path of the command (required)
  DADUZOZI_VERSION  the version it must report (required)
  DADUZOZI_SAMPLE   path of examples/sample.ini (required)
  DADUZOZI_SANITIZED  set when the command is built with sanitizers, whose
                    shadow memory cannot live under an address-space limit
  VALGRIND          path of valgrind, to run the command under memcheck

Run one group with: cli_test.py Records (or any other class name below).
"""

import json
import os
import re
import resource
import subprocess
import tempfile
import unittest
from collections import namedtuple
from pathlib import Path

DADUZOZI = os.environ["DADUZOZI"]
FIXTURES = Path(__file__).resolve().parent / "fixtures"
BASE = str(FIXTURES / "base.ini")
OVERRIDE = str(FIXTURES / "override.ini")
VALUE_AND_CHILDREN = str(FIXTURES / "value_and_children.ini")
MISSING = str(FIXTURES / "missing.ini")

# One run of the command: its arguments and standard input, and what it must
# print on standard output (exactly), on standard error (a regular expression
# that must match all of it) and the exit status.
Case = namedtuple("Case", "title args stdin stdout stderr status",
                  defaults=(b"", b"", "", 0))


def run(args, stdin=b"", prefix=(), **options):
    return subprocess.run([*prefix, DADUZOZI, *args], input=stdin, capture_output=True,
                          timeout=120, **options)


class CommandTest(unittest.TestCase):
    def check(self, case, prefix=()):
        result = run(case.args, case.stdin, prefix)
        self.assertEqual(case.stdout, result.stdout, "standard output")
        self.assertRegex(result.stderr.decode("utf-8", "replace"),
                         "\\A" + case.stderr + "\\Z", "standard error")
        self.assertEqual(case.status, result.returncode, "exit status")

    def check_all(self, cases):
        for case in cases:
            with self.subTest(case.title, args=case.args):
                self.check(case)

    def output_of(self, *args, stdin=b""):
        result = run(args, stdin)
        self.assertEqual((b"", 0), (result.stderr, result.returncode), args)
        return result.stdout


BASE_RECORDS = (b"name = base\nserver.host = localhost\nserver.port = 8080\n"
                b"server.tls.enabled = false\n")
OVERRIDE_RECORDS = (b"server.port = 9090\nserver.tls.enabled = true\n"
                    b"server.tls.cert = /etc/cert.pem\n")
BASE_TREE = (b"name = base\nserver\n  host = localhost\n  port = 8080\n  tls\n"
             b"    enabled = false\n")


class Records(CommandTest):
    def test_records_in_file_order(self):
        self.check_all([
            Case("one file", ["records", BASE], stdout=BASE_RECORDS),
            Case("files in order into one list", ["records", BASE, OVERRIDE],
                 stdout=BASE_RECORDS + OVERRIDE_RECORDS),
            Case("repeated keys all kept", ["records", VALUE_AND_CHILDREN],
                 stdout=b"a = 2\na.b = 1\na.b = 3\n"),
            Case("empty value and empty name", ["records"], b'k = ""\n= v\n',
                 stdout=b"k = \n = v\n"),
            Case("nothing to print", ["records"], b"; only a comment\n"),
        ])

    def test_standard_input(self):
        text = b"[s]\nk = v\n"
        self.check_all([
            Case("no file reads standard input", ["records"], text, b"s.k = v\n"),
            Case("dash reads standard input", ["records", "-"], text, b"s.k = v\n"),
            Case("dash between files", ["records", BASE, "-", OVERRIDE], text,
                 BASE_RECORDS + b"s.k = v\n" + OVERRIDE_RECORDS),
            Case("standard input is read once", ["records", "-", "-"], text, b"s.k = v\n"),
            # The section ends with its input: each input starts without one.
            Case("no section carried into the next file", ["records", "-", VALUE_AND_CHILDREN],
                 b"[s]\n", b"a = 2\na.b = 1\na.b = 3\n"),
        ])

    def test_large_input_through_a_pipe(self):
        # Far beyond any single read, so the buffer has to grow many times. One
        # repeated name keeps the tree to a single node.
        text = b"".join(b"k = v%d\n" % i for i in range(200000))
        output = self.output_of("records", stdin=text)
        self.assertEqual(text, output)


class Tree(CommandTest):
    def test_tree_lines(self):
        self.check_all([
            Case("one file", ["tree", BASE], stdout=BASE_TREE),
            Case("later files extend the tree, first value kept", ["tree", BASE, OVERRIDE],
                 stdout=b"name = base\nserver\n  host = localhost\n  port = 8080\n  tls\n"
                        b"    enabled = false\n    cert = /etc/cert.pem\n"),
            Case("a node with a value and children", ["tree", VALUE_AND_CHILDREN],
                 stdout=b"a = 2\n  b = 1\n"),
            Case("empty tree", ["tree"], b"\n"),
            Case("siblings after a deep subtree", ["tree"], b"a.b.c.d = 1\na.e = 2\nf = 3\n",
                 b"a\n  b\n    c\n      d = 1\n  e = 2\nf = 3\n"),
        ])

    def test_sample_configuration(self):
        # The README's first command shows exactly this.
        expected = (FIXTURES / "sample.tree").read_bytes()
        self.assertEqual(expected, self.output_of("tree", os.environ["DADUZOZI_SAMPLE"]))

    def test_deep_tree_climbs_back_to_the_root(self):
        depth = 300
        text = b".".join([b"n"] * depth) + b" = 1\nlast = 2\n"
        expected = b"".join(b"  " * level + b"n\n" for level in range(depth - 1))
        expected += b"  " * (depth - 1) + b"n = 1\nlast = 2\n"
        self.assertEqual(expected, self.output_of("tree", stdin=text))


class Get(CommandTest):
    def test_get(self):
        self.check_all([
            Case("value of a dotted name", ["get", BASE, "server.tls.enabled"],
                 stdout=b"false\n"),
            Case("first of repeated records", ["get", VALUE_AND_CHILDREN, "a.b"], stdout=b"1\n"),
            Case("first over several files", ["get", BASE, OVERRIDE, "server.port"],
                 stdout=b"8080\n"),
            Case("only in a later file", ["get", BASE, OVERRIDE, "server.tls.cert"],
                 stdout=b"/etc/cert.pem\n"),
            Case("name alone reads standard input", ["get", "s.k"], b"[s]\nk = v\n", b"v\n"),
            Case("empty value", ["get", "k"], b'k = ""\n', b"\n"),
            Case("missing name", ["get", BASE, "server.nothing"], status=1),
            Case("a section is not a record", ["get", BASE, "server"], status=1),
            Case("a key is found only with its section", ["get", BASE, "host"], status=1),
            # A NUL inside a stored name must not make a shorter name match.
            Case("whole name compared", ["get", "a"], b"a\0b = 1\na = 2\n", b"2\n"),
        ])


class Layering(CommandTest):
    def test_replace(self):
        self.check_all([
            Case("later files replace earlier nodes", ["tree", "--replace", BASE, OVERRIDE],
                 stdout=b"name = base\nserver\n  host = localhost\n  tls\n    enabled = true\n"
                        b"    cert = /etc/cert.pem\n  port = 9090\n"),
            Case("a value replaces a whole section", ["tree", "--replace", BASE, "-"],
                 b"server = off\n", b"name = base\nserver = off\n"),
            Case("within one file the last value wins", ["tree", "--replace", VALUE_AND_CHILDREN],
                 stdout=b"a = 2\n  b = 3\n"),
            Case("records keep every line", ["records", "--replace", BASE, OVERRIDE],
                 stdout=BASE_RECORDS + OVERRIDE_RECORDS),
            Case("get still finds the first record", ["get", "--replace", BASE, OVERRIDE,
                                                      "server.port"], stdout=b"8080\n"),
        ])

    def test_under(self):
        indented_base = b"".join(b"    " + line + b"\n" for line in BASE_TREE.splitlines())
        self.check_all([
            Case("every file under the path", ["tree", "--under", "app.conf", BASE],
                 stdout=b"app\n  conf\n" + indented_base),
            Case("one path node reused for every file", ["tree", "--under=app.conf", BASE, "-"],
                 b"extra = 1\n", b"app\n  conf\n" + indented_base + b"    extra = 1\n"),
            Case("empty segments skipped", ["tree", "--under", ".a..b.", "-"], b"k = v\n",
                 b"a\n  b\n    k = v\n"),
            Case("path matching a parsed name", ["tree", "--under", "server", "-"],
                 b"[server]\nport = 1\n", b"server\n  server\n    port = 1\n"),
            Case("with replace, only below the path", ["tree", "--replace", "--under", "x", "-"],
                 b"k = 1\nk = 2\n", b"x\n  k = 2\n"),
            Case("records carry no path", ["records", "--under", "app", BASE],
                 stdout=BASE_RECORDS),
            Case("get ignores the path", ["get", "--under", "app", BASE, "name"],
                 stdout=b"base\n"),
            Case("last --under wins", ["tree", "--under", "a", "--under", "b", "-"], b"k = v\n",
                 b"b\n  k = v\n"),
        ])


# Each input line is one record "k = <value>" or a key line "<name> = v".
TEXT_ESCAPES = [
    ("tab, CR and LF in a quoted value", b'k = "a\tb\r\nc"\n', b"k = a\\tb\\r\\nc\n"),
    ("backslash", b"k = a\\b \n", b"k = a\\\\b\n"),
    ("NUL", b"k = a\0b \n", b"k = a\\x00b\n"),
    ("other control bytes", b'k = "\x01\x0b\x0c\x1b\x1f"\n', b"k = \\x01\\x0b\\x0c\\x1b\\x1f\n"),
    ("DEL", b"k = \x7f \n", b"k = \\x7f\n"),
    ("bytes from 0x80 unchanged", b"k = \xc3\xa9\x80\xff \n", b"k = \xc3\xa9\x80\xff\n"),
    ("printable ASCII unchanged", b'k = "!#$%&()*+,-./:;<=>?@[]^_`{|}~ \'"\n',
     b"k = !#$%&()*+,-./:;<=>?@[]^_`{|}~ '\n"),
    ("control byte in a name", b"\x01k\x1f = v\n", b"\\x01k\\x1f = v\n"),
]


class Escaping(CommandTest):
    def test_records_escape_control_bytes_and_backslashes(self):
        self.check_all([Case(title, ["records"], text, expected)
                        for title, text, expected in TEXT_ESCAPES])

    def test_raw_prints_the_bytes(self):
        # The raw line is the record's name and value exactly as stored.
        raw_cases = [
            ("tab, CR and LF", b'k = "a\tb\r\nc"\n', b"k = a\tb\r\nc\n"),
            ("backslash and NUL", b"k = a\\\0b \n", b"k = a\\\0b\n"),
            ("control byte in a name", b"\x01k = \x7f \n", b"\x01k = \x7f\n"),
        ]
        self.check_all([Case(title, ["records", "--raw"], text, expected)
                        for title, text, expected in raw_cases])

    def test_tree_and_get_escape_alike(self):
        text = b'[s\x01]\nk = "a\\b\nc"\n'
        self.check_all([
            Case("tree", ["tree"], text, b"s\\x01\n  k = a\\\\b\\nc\n"),
            Case("tree raw", ["tree", "--raw"], text, b"s\x01\n  k = a\\b\nc\n"),
            Case("get", ["get", "s\x01.k"], text, b"a\\\\b\\nc\n"),
            Case("get raw", ["get", "--raw", "s\x01.k"], text, b"a\\b\nc\n"),
        ])


def node(name, value=None, *children):
    return {"name": name, "value": value, "children": list(children)}


class Json(CommandTest):
    def json_of(self, *args, stdin=b""):
        output = self.output_of("json", *args, stdin=stdin)
        # Strict decoding first: the output must be UTF-8 whatever the input.
        return json.loads(output.decode("utf-8"))

    def test_structure(self):
        cases = [
            ("empty", [], b"", []),
            ("one file", [BASE], b"",
             [node("name", "base"),
              node("server", None, node("host", "localhost"), node("port", "8080"),
                   node("tls", None, node("enabled", "false")))]),
            ("a node with a value and children", [VALUE_AND_CHILDREN], b"",
             [node("a", "2", node("b", "1"))]),
            ("repeated key: first value kept", ["-"], b"k = 1\nk = 2\n", [node("k", "1")]),
            ("repeated key with replace", ["--replace", "-"], b"k = 1\nk = 2\n",
             [node("k", "2")]),
            ("empty value is a string", ["-"], b'k = ""\n', [node("k", "")]),
            ("under a path", ["--under", "p", "-"], b"k = v\n", [node("p", None, node("k", "v"))]),
            ("quotes and backslashes", ["-"], b'k = "say \\"hi\\""\n',
             [node("k", 'say \\"hi\\"')]),
            ("NUL and control bytes", ["-"], b'k = "a\0\x01\n\x7f"\n',
             [node("k", "a\0\x01\n\x7f")]),
            ("valid UTF-8", ["-"], "k\u00e9 = \u20ac\U0001f600 \n".encode(),
             [node("k\u00e9", "\u20ac\U0001f600")]),
            ("invalid UTF-8 as surrogate escapes", ["-"], b"k\xff = a\x80b\xc3 \n",
             [node("k\udcff", "a\udc80b\udcc3")]),
        ]
        for title, args, stdin, expected in cases:
            with self.subTest(title):
                self.assertEqual(expected, self.json_of(*args, stdin=stdin))

    def test_sibling_order_with_replace(self):
        # A replaced node moves to the end of its siblings.
        self.assertEqual(
            [node("name", "base"),
             node("server", None, node("host", "localhost"),
                  node("tls", None, node("enabled", "true"), node("cert", "/etc/cert.pem")),
                  node("port", "9090"))],
            self.json_of("--replace", BASE, OVERRIDE))

    def test_bytes_survive_the_round_trip(self):
        # Each value must decode to the original bytes under the
        # surrogateescape convention, and valid UTF-8 must stay characters.
        every_byte = bytes(b for b in range(256) if b != ord('"'))
        values = [
            ("every byte but the quote", every_byte),
            ("overlong forms", b"\xc0\x80\xc1\xbf\xe0\x80\x80\xf0\x80\x80\x80"),
            ("surrogates", b"\xed\xa0\x80\xed\xbf\xbf"),
            ("above U+10FFFF", b"\xf4\x90\x80\x80\xf5\x80\x80\x80"),
            ("truncated sequences", b"\xe2\x82\xe2\x82\xac\xf0\x9f\x98"),
            ("lone continuation bytes", b"\x80\xbf"),
            ("boundaries of the valid ranges",
             b"\xc2\x80\xdf\xbf\xe0\xa0\x80\xed\x9f\xbf\xee\x80\x80"
             b"\xf0\x90\x80\x80\xf4\x8f\xbf\xbf"),
        ]
        for title, value in values:
            with self.subTest(title):
                tree = self.json_of(stdin=b'k = "' + value + b'"\n')
                decoded = tree[0]["value"]
                self.assertEqual(value.decode("utf-8", "surrogateescape"), decoded)
                self.assertEqual(value, decoded.encode("utf-8", "surrogateescape"))

    def test_layout(self):
        self.assertEqual(
            b'[\n  {"name": "a", "value": "2", "children": [\n'
            b'    {"name": "b", "value": "1", "children": []}\n  ]},\n'
            b'  {"name": "c", "value": null, "children": [\n'
            b'    {"name": "d", "value": "\\u0001", "children": []}\n  ]}\n]\n',
            self.output_of("json", VALUE_AND_CHILDREN, "-", stdin=b'[c]\nd = "\x01"\n'))
        self.assertEqual(b"[]\n", self.output_of("json", stdin=b""))

    def test_deep_tree(self):
        depth = 300
        tree = self.json_of(stdin=b".".join([b"n"] * depth) + b" = 1\nlast = 2\n")
        self.assertEqual(node("last", "2"), tree[1])
        level, nodes = tree[0], 1
        while level["children"]:
            self.assertEqual((None, 1), (level["value"], len(level["children"])))
            level, nodes = level["children"][0], nodes + 1
        self.assertEqual((depth, "1"), (nodes, level["value"]))

    def test_raw_does_not_change_json(self):
        text = b'k = "a\0\n"\n'
        self.assertEqual(self.output_of("json", stdin=text),
                         self.output_of("json", "--raw", stdin=text))


class Errors(CommandTest):
    def test_unreadable_input(self):
        self.check_all([
            Case("missing file", ["records", MISSING], status=2,
                 stderr="daduzozi: " + re.escape(MISSING) + ": No such file or directory\n"),
            Case("directory", ["tree", str(FIXTURES)], status=2,
                 stderr="daduzozi: " + re.escape(str(FIXTURES)) + ": Is a directory\n"),
            Case("no partial output after a good file", ["records", BASE, MISSING], status=2,
                 stderr="daduzozi: " + re.escape(MISSING) + ": No such file or directory\n"),
            Case("get stops before looking", ["get", BASE, MISSING, "name"], status=2,
                 stderr="daduzozi: " + re.escape(MISSING) + ": No such file or directory\n"),
        ])

    def test_directory_on_standard_input(self):
        directory = os.open(FIXTURES, os.O_RDONLY)
        try:
            result = subprocess.run([DADUZOZI, "records"], stdin=directory, capture_output=True,
                                    timeout=120)
        finally:
            os.close(directory)
        self.assertEqual((b"", b"daduzozi: standard input: Is a directory\n", 2),
                         (result.stdout, result.stderr, result.returncode))

    def test_failed_output(self):
        with open("/dev/full", "wb") as full:
            result = subprocess.run([DADUZOZI, "records", BASE], stdout=full,
                                    stderr=subprocess.PIPE, timeout=120)
        self.assertEqual((b"daduzozi: standard output: No space left on device\n", 2),
                         (result.stderr, result.returncode))


class CommandLine(CommandTest):
    def test_usage_errors(self):
        help_hint = r" \(see daduzozi --help\)\n"
        self.check_all([
            Case("no command", [], status=2,
                 stderr="daduzozi: missing command: one of records, tree, json, get" + help_hint),
            Case("unknown command", ["list", BASE], status=2,
                 stderr="daduzozi: list: unknown command" + help_hint),
            Case("unknown option", ["records", "--frob", BASE], status=2,
                 stderr="daduzozi: --frob: unknown option" + help_hint),
            Case("unknown short option", ["records", "-x"], status=2,
                 stderr="daduzozi: -x: unknown option" + help_hint),
            Case("option with a value it does not take", ["records", "--raw=1"], status=2,
                 stderr="daduzozi: --raw=1: unknown option" + help_hint),
            Case("--under without PATH", ["tree", BASE, "--under"], status=2,
                 stderr="daduzozi: --under: missing PATH\n"),
            Case("get without NAME", ["get"], status=2, stderr="daduzozi: get: missing NAME\n"),
            Case("bad option before a missing file", ["records", MISSING, "--frob"], status=2,
                 stderr="daduzozi: --frob: unknown option" + help_hint),
        ])

    def test_option_placement(self):
        text = b'k = "a\tb"\n'
        self.check_all([
            Case("before the command", ["--raw", "records"], text, b"k = a\tb\n"),
            Case("after the files", ["records", "-", "--raw"], text, b"k = a\tb\n"),
            Case("after -- an option is a file", ["records", "--", "--raw"], status=2,
                 stderr="daduzozi: --raw: No such file or directory\n"),
        ])

    def test_file_named_like_an_option(self):
        with tempfile.TemporaryDirectory() as directory:
            Path(directory, "--odd.ini").write_bytes(b"k = v\n")
            result = run(["records", "--", "--odd.ini"], cwd=directory)
        self.assertEqual((b"k = v\n", b"", 0), (result.stdout, result.stderr, result.returncode))

    def test_help(self):
        for args in (["--help"], ["-h"], ["records", BASE, "--help"], ["--help", "--frob"]):
            with self.subTest(args=args):
                result = run(args)
                self.assertEqual((b"", 0), (result.stderr, result.returncode))
                text = result.stdout.decode()
                for word in ("records", "tree", "json", "get", "NAME", "--replace", "--under PATH",
                             "--raw", "--help", "--version", "Exit status"):
                    self.assertIn(word, text)

    def test_version(self):
        self.check(Case("version", ["--version"],
                        stdout=b"daduzozi " + os.environ["DADUZOZI_VERSION"].encode() + b"\n"))


def limit_address_space(size):
    return lambda: resource.setrlimit(resource.RLIMIT_AS, (size, size))


@unittest.skipIf(os.environ.get("DADUZOZI_SANITIZED"), "sanitizers reserve more address space")
class Memory(CommandTest):
    """Out of memory is reported as a failure, never printed as a result."""

    def test_input_larger_than_memory(self):
        with open("/dev/zero", "rb") as endless:
            result = subprocess.run([DADUZOZI, "records"], stdin=endless, capture_output=True,
                                    timeout=120, preexec_fn=limit_address_space(256 << 20))
        self.assertEqual((b"", b"daduzozi: standard input: out of memory\n", 2),
                         (result.stdout, result.stderr, result.returncode))

    def test_records_larger_than_memory(self):
        # 16 MiB of input is read in one block well inside the limit, but its
        # four million records need far more than the limit leaves.
        with tempfile.TemporaryDirectory() as directory:
            path = Path(directory, "big.ini")
            path.write_bytes(b"a=b\n" * (4 << 20))
            result = run(["records", str(path)], preexec_fn=limit_address_space(128 << 20))
        self.assertEqual((b"", ("daduzozi: %s: out of memory\n" % path).encode(), 2),
                         (result.stdout, result.stderr, result.returncode))


@unittest.skipUnless(os.environ.get("VALGRIND"), "valgrind not found")
class Valgrind(CommandTest):
    """Memcheck must see no error and no block left unreleased."""

    MEMCHECK = (os.environ.get("VALGRIND", ""), "--quiet", "--error-exitcode=99",
                "--leak-check=full", "--show-leak-kinds=all", "--errors-for-leak-kinds=all")

    def test_clean_runs(self):
        cases = [
            Case("layered json under a path", ["json", "--replace", "--under", "a.b", BASE,
                                               OVERRIDE, "-"], b"k = \xff\0\n",
                 self.output_of("json", "--replace", "--under", "a.b", BASE, OVERRIDE, "-",
                                stdin=b"k = \xff\0\n")),
            Case("get misses after a tree was built", ["get", BASE, VALUE_AND_CHILDREN, "zz"],
                 status=1),
            Case("failure after a file was parsed", ["tree", BASE, MISSING], status=2,
                 stderr="daduzozi: " + re.escape(MISSING) + ": No such file or directory\n"),
        ]
        for case in cases:
            with self.subTest(case.title):
                self.check(case, prefix=self.MEMCHECK)


if __name__ == "__main__":
    unittest.main()
