"""Instruction counts of one profiled run, per library function and per part.

Reads a callgrind output written with --compress-strings=no --compress-pos=no
and the library source. Inlined code keeps its source lines, so every cost
line inside the library source is charged to the top-level function whose
definition encloses that line, however the optimiser merged them. Calls from
the library into the allocator callbacks are charged to "allocation"; calls
into the C library (memcpy, memchr, memcmp) to the calling function.
"""

import re
from collections import defaultdict

ALLOCATOR_CALLBACKS = ("profile_alloc", "profile_free")
DEFINITION = re.compile(r"^(?!namespace|struct|class|enum|using|typedef|return|#|//|extern)"
                        r"[A-Za-z_][\w:<>,\s\*&]*?[\s\*&]([A-Za-z_]\w*)\s*\(")


def function_starts(source_path):
    """(first line, name) of every top-level function definition, in order."""
    starts = []
    with open(source_path, encoding="utf-8", errors="replace") as source:
        for number, line in enumerate(source, 1):
            match = DEFINITION.match(line)
            if match and not line.rstrip().endswith(";"):
                starts.append((number, match.group(1)))
    return starts


def enclosing_function(starts, line):
    name = "(file scope)"
    for first, candidate in starts:
        if first > line:
            break
        name = candidate
    return name


def part_of(starts, name):
    """The list link helpers serve records and nodes alike; of the rest, the
    scanner is everything defined up to its loop "scan", the tree builder and
    the record and node operations follow it, the C entry points come last."""
    names = [n for _, n in starts]
    if name.startswith("tovik_"):
        return "entry points"
    if name.startswith("list_"):
        return "list links"
    if "scan" not in names or name not in names:
        return "library"
    return "scanner" if names.index(name) <= names.index("scan") else "tree builder and nodes"


def base_name(symbol):
    """"(anonymous namespace)::on_key(tovik_ctx*)" -> "on_key"."""
    match = re.search(r"(\w+)\(", symbol)
    return match.group(1) if match else symbol


def summarise(callgrind_path, source_path):
    starts = function_starts(source_path)
    per_function = defaultdict(int)
    per_part = defaultdict(int)
    total = summary = 0
    current_file = function_file = function = ""
    callee = ""
    in_call = False
    with open(callgrind_path, encoding="utf-8", errors="replace") as profile:
        for raw in profile:
            line = raw.rstrip("\n")
            if line.startswith("summary:"):
                summary = int(line.split()[1])
            elif line.startswith("fl="):
                current_file = function_file = line[3:]
            elif line.startswith(("fi=", "fe=")):
                current_file = line[3:]
            elif line.startswith("fn="):
                function = base_name(line[3:])
            elif line.startswith("cfn="):
                callee = line[4:]
            elif line.startswith("calls="):
                in_call = True
            elif line[:1].isdigit():
                number, cost = (int(field) for field in line.split()[:2])
                charged = charge(starts, source_path, current_file, number, callee, in_call,
                                 function if function_file == source_path else None)
                in_call = False
                if charged:
                    function, part = charged
                    per_function[function] += cost
                    per_part[part] += cost
                    total += cost
    return {"summary": summary, "total": total, "functions": dict(per_function),
            "parts": dict(per_part)}


def charge(starts, source_path, current_file, number, callee, in_call, library_function):
    """(function, part) a cost line is charged to, or None when the cost is
    already counted elsewhere (callees' own lines, calls into the library).
    Lines of headers inlined into a library function go to that function."""
    if current_file == source_path:
        caller = enclosing_function(starts, number)
    elif library_function:
        caller = library_function
    else:
        return None
    if not in_call:
        return caller, part_of(starts, caller)
    if callee.startswith(ALLOCATOR_CALLBACKS):
        return "malloc/free callbacks", "allocation"
    if any(callee.startswith(name) and callee[len(name):len(name) + 1] in ("", "(")
           for _, name in starts) or "(anonymous namespace)" in callee:
        return None
    return caller, part_of(starts, caller)
