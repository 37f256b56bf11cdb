#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Seeds are named seed-*; other files there (regression entries for failures
once found) are left alone. Run it again after changing the seeds below or
the input layout of a target.

fuzz_parse input: one control byte (bit 0 the replace flag, bit 1 a graft
under a caller node, bit 2 that node with a value, higher bits ignored by the
library), then the text.

fuzz_ops input: read the way FuzzedDataProvider reads it, numbers from the
end of the input and strings from its front; the Ops class below writes it.
"""
import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent

SAMPLE = (b"; a typical file\n"
          b"# with both comment markers\n"
          b"top = level\n"
          b"[net]\n"
          b"port = 8080\n"
          b"host = \"example host\"\n"
          b"backlog=128\n"
          b"backlog=256\n"
          b"[net.tls]\n"
          b"cert.path = /etc/cert.pem\n"
          b"[]\n"
          b"bare = again\n")

# The dialect's constructs, one or a few per text.
TEXTS = {
    "sample": SAMPLE,
    "sections": b"[s]\nk=v\n[t]\nk=w\n[]\nk=x\n[a.b]\nk=v\n",
    "header-junk": b"[a=b] junk\nk=v\n[abc\nk=v\n]\nz=1\n[ s ]\nq=1\n[x y]\nr=2\n]x=1\n",
    "keys": b"key\nother=value\n=v\nit's = x\na]b = 1\nk =\nz=1\nk = \n\t k\t=\tv\r\n",
    "values": b"k = hello world\nk = v;c\nk = v ;c\nk = ;c\na=1 \nb=\"x\" tail\nc=\"\"\n",
    "last-line-bare": b"a = 1\nb = 2",
    "last-line-quoted": b"a = 1\nb = \"2\"",
    "unterminated-quote": b"a = \"never closed\nb = 2\n",
    "quotes-backslashes": (b"a = \"a\\\"b\" tail\nb=\"a\\\\\"x\nc=\"\\\\\\\"\\\\\"\n"
                           b"d=\"\\\\\\\\\\\\\\\\\"\ne=\"one\ntwo\"\nf=\"\\\"\n\"\n"),
    "cr-lf-mixes": b"[s]\r\na=1\r\nb=2\rc=3\n\rd=4\r\r\n\ne=\"x\r\ny\"\r\n",
    "deep-dots": (b"[a.b.c.d.e.f.g.h]\ni.j.k.l = 1\n" + b"x." * 200 + b"y = deep\n"
                  b"a..b = 1\n.c = 2\nd. = 3\n... = 4\n"),
    "replace-shapes": b"x = 1\nx = 2\na.b = 1\na = 2\nc = 2\nc.d = 1\ne=1\ne.f=2\ne=3\n",
    "nul-bytes": b"k\x00ey = v\x00al\n[s\x00t]\nk = \"\x00\"\n\x00 = \x00\n",
    "high-bytes": bytes(range(0x80, 0x100)) + b" = \xff\xfe\n[\xc3\xa9t\xc3\xa9]\n\xe2\x82\xac=\x80\n",
    "control-bytes": b"\x01k\x01 = \x01v\x01\nk = a\x0bb\nk =\x0cv\nk=\x7f\n",
    "every-byte": bytes(range(256)) + b"\n" + bytes(range(255, -1, -1)) + b" \n",
    "blank-runs": b"\n\n \t\x0b\x0c\r\n   k   =   v   \n\t\t\n",
}

CONTROLS = {
    "keep": 0x00,
    "replace": 0x01,
    "graft": 0x02,
    "graft-replace": 0x03,
    "graft-value": 0x06,
    "ignored-bits": 0xFC,
}


def parse_seeds():
    seeds = {}
    for name, text in TEXTS.items():
        seeds[name] = bytes([CONTROLS["keep"]]) + text
    for control_name, control in CONTROLS.items():
        if control_name != "keep":
            seeds["sample-" + control_name] = bytes([control]) + SAMPLE
            seeds["replace-shapes-" + control_name] = bytes([control]) + TEXTS["replace-shapes"]
    return seeds


# Operation numbers of fuzz_ops, in the order of its Op enumeration.
OPS = ["parse", "add_subnode", "add_valuenode", "add_oversized", "find_node", "find_key",
       "check_lookups", "free_node", "free_all", "deinit", "reinit", "refuse_one",
       "refuse_from", "accept_all"]
MAX_SLICE = 4096


class Ops:
    """Writes a fuzz_ops input: front bytes for strings, tail bytes (listed in
    the order they are consumed, from the end backwards) for numbers."""

    def __init__(self, with_free_fn):
        self.front = bytearray()
        self.tail = bytearray()
        self.boolean(with_free_fn)

    def number(self, value, top):
        """A value of ConsumeIntegralInRange(0, top)."""
        size = 0
        while size < 8 and (top >> (8 * size)) > 0:
            size += 1
        self.tail += value.to_bytes(size, "big") if size else b""

    def boolean(self, value):
        self.number(int(value), 255)

    def string(self, text):
        """A ConsumeRandomLengthString: backslashes doubled, ended by a lone one."""
        self.front += text.replace(b"\\", b"\\\\") + b"\\e"

    def op(self, name):
        self.number(OPS.index(name), len(OPS) - 1)

    def pick(self, index, node_count):
        """A node by its index in pre-order; node_count for the root list."""
        self.number(index, node_count)

    def parse(self, text, flags=0, parent=0, node_count=0):
        self.op("parse")
        self.pick(parent, node_count)
        self.number(flags, 255)
        self.number(len(text), MAX_SLICE)
        self.front += text

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.tail))


def ops_seeds():
    seeds = {}

    run = Ops(with_free_fn=True)
    run.parse(SAMPLE)
    run.op("check_lookups")
    run.op("find_key")
    run.boolean(False)
    run.string(b"net.port")
    run.op("deinit")
    run.parse(TEXTS["replace-shapes"], flags=1)
    seeds["parse-lookups-deinit-reuse"] = run.bytes()

    run = Ops(with_free_fn=True)
    run.op("add_subnode")
    run.pick(0, 0)
    run.string(b"p")
    run.parse(b"[s]\nk = 1\nk = 2\n", flags=1, parent=0, node_count=1)  # p, s, k
    run.op("free_node")
    run.pick(1, 3)  # s with k
    run.op("free_all")
    seeds["graft-replace-prune"] = run.bytes()

    run = Ops(with_free_fn=False)
    run.parse(b"a.b = 1\na = 2\n", flags=1)
    run.op("deinit")
    run.op("free_all")
    run.op("reinit")
    run.boolean(True)
    run.parse(b"x = 1\n")
    run.op("deinit")
    seeds["no-free-fn-then-reinit"] = run.bytes()

    run = Ops(with_free_fn=True)
    run.op("refuse_one")
    run.number(1, 15)  # the second request from now
    run.parse(SAMPLE)
    seeds["refuse-second-request"] = run.bytes()

    run = Ops(with_free_fn=True)
    run.op("refuse_from")
    run.number(2, 15)  # every request from the third on
    run.op("add_valuenode")
    run.pick(0, 0)
    run.string(b"a")
    run.string(b"1")
    run.op("add_valuenode")
    run.pick(1, 1)  # the root list
    run.string(b"b.c")
    run.string(b"")
    run.parse(TEXTS["deep-dots"], node_count=2)
    run.op("accept_all")
    run.parse(TEXTS["sections"], flags=1, node_count=3)
    seeds["refuse-from-third-request"] = run.bytes()

    run = Ops(with_free_fn=True)
    run.op("add_oversized")
    run.pick(0, 0)
    run.number(5, 128)
    run.boolean(True)
    run.op("find_node")
    run.pick(0, 0)
    run.string(b"zz")
    seeds["oversized-and-missing"] = run.bytes()
    return seeds


def write(target, seeds):
    directory = HERE / "corpus" / target
    directory.mkdir(parents=True, exist_ok=True)
    for old in directory.glob("seed-*"):
        old.unlink()
    for name, data in seeds.items():
        (directory / ("seed-" + name)).write_bytes(data)
    print(f"{target}: {len(seeds)} seeds in {directory}")


def main():
    write("fuzz_parse", parse_seeds())
    write("fuzz_ops", ops_seeds())
    return 0


if __name__ == "__main__":
    sys.exit(main())
