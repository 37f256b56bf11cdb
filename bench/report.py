#!/usr/bin/env python3
"""Turns a Google Benchmark JSON run into docs/benchmarks.md and the chart.

  report.py check RESULTS.json
      exits 1 when a benchmark failed for any reason but a peer rejecting an
      input (a wrong allocation count or size fails the run)
  report.py write RESULTS.json MACHINE.json PARSE.callgrind RELEASE.callgrind
            SOURCE OUT.md OUT.svg

Every figure is the median of the repetitions' CPU times with their minimum
and maximum; ratios compare medians of the same run, so that a shared,
noisy machine slows every side alike.
"""

import json
import math
import statistics
import sys
from collections import defaultdict

import callgrind_summary

INPUTS = ["typical", "real", "small", "deep", "wide"]
OURS = ["ours_malloc", "ours_arena"]
STORING_PEERS = ["inih_copy", "iniparser", "simpleini", "boost_ptree", "glib_keyfile"]
PEERS = ["inih_nostore"] + STORING_PEERS
BASELINES = ["memchr_scan", "memcpy", "malloc_per_line", "floor_malloc", "floor_arena"]
PARSERS = OURS + PEERS
LOOKUPS = ["ours_find_key", "ours_tree_find", "index_find_record", "index_find_path",
           "index_build", "iniparser_find", "simpleini_find", "boost_ptree_find",
           "glib_keyfile_find"]
CHART = OURS + PEERS + ["memchr_scan"]
COLOURS = {"ours_malloc": "#1b6ac9", "ours_arena": "#5fa8f5", "inih_nostore": "#e07b00",
           "inih_copy": "#f2b45c", "iniparser": "#8d6e63", "simpleini": "#43a047",
           "boost_ptree": "#8e24aa", "glib_keyfile": "#d81b60", "memchr_scan": "#9e9e9e"}
ABOUT = {
    "ours_malloc": "parse (records and tree) and tovik_deinit, malloc/free callbacks",
    "ours_arena": "parse into a bump arena, then drop the arena",
    "inih_nostore": "inih ini_parse_string, handler keeps nothing",
    "inih_copy": "inih, handler copies each pair into one malloc'd block",
    "iniparser": "iniparser_load of a file with the same bytes, iniparser_freedict",
    "simpleini": "SimpleIni LoadData, destructor",
    "boost_ptree": "Boost.PropertyTree read_ini from an istringstream",
    "glib_keyfile": "GKeyFile g_key_file_load_from_data ('#' comments), g_key_file_free",
    "memchr_scan": "memchr over the text counting line feeds",
    "memcpy": "memcpy of the text",
    "malloc_per_line": "one malloc per line, all freed at the end",
    "floor_malloc": "memchr scan + the exact malloc/free sequence of one parse and release",
    "floor_arena": "memchr scan + the same block sizes taken from a bump arena",
    "ours_find_key": "tovik_find_key of every key (linear by design)",
    "ours_tree_find": "tovik_find_tree_node segment by segment, every key",
    "index_find_record": "tovik::index find_record, every key",
    "index_find_path": "tovik::index find (dotted path), every key",
    "index_build": "building tovik::index once (per key line)",
    "iniparser_find": "iniparser_getstring, every key",
    "simpleini_find": "SimpleIni GetValue, every key",
    "boost_ptree_find": "ptree get_child_optional (section, then key), every key",
    "glib_keyfile_find": "g_key_file_get_value (and g_free), every key",
}


def load_runs(path):
    """{name: {"times": [...], "counters": {...}, "error": text}} from the
    per-repetition entries of a run."""
    with open(path, encoding="utf-8") as results:
        data = json.load(results)
    runs = defaultdict(lambda: {"times": [], "counters": {}, "error": ""})
    for entry in data["benchmarks"]:
        if entry.get("run_type") == "aggregate":
            continue
        run = runs[entry.get("run_name", entry["name"])]
        if entry.get("error_occurred"):
            run["error"] = entry.get("error_message", "error")
            continue
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[entry.get("time_unit", "ns")]
        run["times"].append(entry["cpu_time"] * scale)
        for key, value in entry.items():
            if isinstance(value, (int, float)) and key not in (
                    "cpu_time", "real_time", "iterations", "repetitions", "repetition_index",
                    "threads", "family_index", "per_family_instance_index"):
                run["counters"].setdefault(key, []).append(value)
    return data.get("context", {}), dict(runs)


def check(path):
    _, runs = load_runs(path)
    failed = [(name, run["error"]) for name, run in runs.items()
              if run["error"] and not (run["error"].startswith("rejected:")
                                       and name.split("/")[0] in PEERS)]
    for name, error in failed:
        print(f"{name}: {error}")
    if not runs:
        print("no benchmark ran")
    print(f"{len(runs) - len(failed)} passed, {len(failed)} failed")
    return 1 if failed or not runs else 0


class Figures:
    def __init__(self, runs):
        self.runs = runs

    def median(self, subject, corpus):
        run = self.runs.get(f"{subject}/{corpus}")
        return statistics.median(run["times"]) if run and run["times"] else None

    def spread(self, subject, corpus):
        times = self.runs[f"{subject}/{corpus}"]["times"]
        return min(times), max(times)

    def counter(self, subject, corpus, name):
        run = self.runs.get(f"{subject}/{corpus}")
        values = run["counters"].get(name) if run else None
        return statistics.median(values) if values else None

    def error(self, subject, corpus):
        run = self.runs.get(f"{subject}/{corpus}")
        return run["error"] if run else "not run"

    def ratio(self, slow, fast, corpus):
        a, b = self.median(slow, corpus), self.median(fast, corpus)
        return a / b if a and b else None

    def fastest(self, subjects, corpus):
        timed = [(self.median(s, corpus), s) for s in subjects if self.median(s, corpus)]
        return min(timed) if timed else (None, None)


def seconds(value):
    if value is None:
        return "–"
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6)):
        if value >= scale:
            return f"{value / scale:.3g} {unit}"
    return f"{value / 1e-9:.3g} ns"


def times(value):
    return "–" if value is None else f"{value:.3g}×"


def throughput_table(fig, corpus, size):
    rows = ["| subject | median | min – max | MB/s | ns per key line | time ÷ memchr scan |"
            " time ÷ ours_malloc | pairs kept |", "|---|---|---|---|---|---|---|---|"]
    for subject in PARSERS + BASELINES:
        median = fig.median(subject, corpus)
        if median is None:
            rows.append(f"| {subject} | {fig.error(subject, corpus)} | | | | | | |")
            continue
        low, high = fig.spread(subject, corpus)
        per_line = fig.counter(subject, corpus, "ns_per_key_line")
        rows.append(
            f"| {subject} | {seconds(median)} | {seconds(low)} – {seconds(high)} | "
            f"{size / median / 1e6:.1f} | {per_line * 1e9:.1f} | "
            f"{times(fig.ratio(subject, 'memchr_scan', corpus))} | "
            f"{times(fig.ratio(subject, 'ours_malloc', corpus))} | {kept(fig, subject, corpus)} |")
    return rows


def kept(fig, subject, corpus):
    """Pairs a parser holds afterwards: peers that merge repeated sections
    and keys keep fewer than the input has."""
    name = "records" if subject in OURS else "pairs"
    value = fig.counter(subject, corpus, name)
    return "" if value is None else f"{value:.0f}"


def megabytes(size):
    return f"{size / 1e6:.2f} MB" if size >= 1e5 else f"{size / 1e3:.2f} KB"


def at_least(measured, goal):
    if measured is None:
        return "–", "not measured"
    verdict = "held" if measured >= goal else "missed"
    margin = measured / goal
    return times(measured), (f"held, {margin:.2f}× the goal" if verdict == "held"
                             else f"missed, {1 / margin:.2f}× short of it")


def at_most(measured, goal):
    if measured is None:
        return "–", "not measured"
    margin = goal / measured
    return times(measured), (f"held, {margin:.2f}× inside" if measured <= goal
                             else f"missed, {1 / margin:.2f}× over")


def targets(fig):
    rows = ["| target | measured | verdict |", "|---|---|---|"]

    def add(text, outcome):
        rows.append(f"| {text} | {outcome[0]} | {outcome[1]} |")

    for corpus in ("typical", "real"):
        add(f"{corpus}: ours_malloc ≥ 3× faster than inih_nostore",
            at_least(fig.ratio("inih_nostore", "ours_malloc", corpus), 3))
        best, name = fig.fastest(STORING_PEERS, corpus)
        ours = fig.median("ours_malloc", corpus)
        add(f"{corpus}: ours_malloc ≥ 4× faster than the fastest storing peer ({name})",
            at_least(best / ours if best and ours else None, 4))
        add(f"{corpus}: ours_malloc within 1.5× of floor_malloc",
            at_most(fig.ratio("ours_malloc", "floor_malloc", corpus), 1.5))
        add(f"{corpus}: ours_arena ≥ 5× faster than inih_nostore",
            at_least(fig.ratio("inih_nostore", "ours_arena", corpus), 5))
        add(f"{corpus}: ours_arena within 3× of memchr_scan",
            at_most(fig.ratio("ours_arena", "memchr_scan", corpus), 3))
    best, name = fig.fastest(PEERS, "small")
    ours = fig.median("ours_malloc", "small")
    add(f"small: parse + deinit ≥ 3× faster than the fastest peer ({name})",
        at_least(best / ours if best and ours else None, 3))
    add("deep: ours_malloc within 1.5× of floor_malloc",
        at_most(fig.ratio("ours_malloc", "floor_malloc", "deep"), 1.5))
    visit = fig.counter("ours_malloc", "wide", "ns_per_sibling_visit")
    if visit is None:
        rows.append("| wide: under 1 ns per sibling visited (aim) | – | not measured |")
    else:
        verdict = "held" if visit * 1e9 < 1 else f"missed, {visit * 1e9:.2f}× over"
        rows.append(f"| wide: under 1 ns per sibling visited (aim) | "
                    f"{visit * 1e9:.2f} ns | {verdict} |")
    exact = all(fig.error("ours_malloc", c) in ("", "not run") for c in INPUTS)
    rows.append("| allocated bytes equal the defined block sizes, every input | "
                f"{'equal' if exact else 'differ'} | {'held' if exact else 'missed'} |")
    return rows


def lookup_table(fig):
    rows = ["| subject | what | small: ns per key | typical: ns per key |", "|---|---|---|---|"]
    for subject in LOOKUPS:
        cells = []
        for corpus in ("small", "typical"):
            name = "ns_per_key_line" if subject == "index_build" else "ns_per_lookup"
            value = fig.counter(subject, corpus, name)
            cells.append(fig.error(subject, corpus) if value is None else f"{value * 1e9:.4g}")
        rows.append(f"| {subject} | {ABOUT[subject]} | {cells[0]} | {cells[1]} |")
    return rows


HEAP_SUBJECTS = ["ours_malloc", "inih_copy", "simpleini", "glib_keyfile", "boost_ptree",
                 "iniparser"]


def memory_table(fig):
    rows = ["| input | records | nodes | blocks | bytes requested (= defined sizes) | "
            "requested per record | heap per key line: " + " | ".join(HEAP_SUBJECTS) + " |",
            "|---|" + "---|" * (5 + len(HEAP_SUBJECTS))]
    for corpus in INPUTS:
        ours = lambda name: fig.counter("ours_malloc", corpus, name)
        if ours("records") is None:
            rows.append(f"| {corpus} | {fig.error('ours_malloc', corpus)} |"
                        + " |" * (4 + len(HEAP_SUBJECTS)))
            continue
        heaps = [fig.counter(s, corpus, "heap_per_key_line") for s in HEAP_SUBJECTS]
        rows.append(f"| {corpus} | {ours('records'):.0f} | {ours('nodes'):.0f} | "
                    f"{ours('allocations'):.0f} | {ours('alloc_bytes'):.0f} | "
                    f"{ours('bytes_per_record'):.1f} | "
                    + " | ".join("–" if h is None else f"{h:.0f}" for h in heaps) + " |")
    return rows


def profile_section(parse_path, release_path, source):
    rows = []
    for title, path in (("parse (tovik_parse_data_ex)", parse_path),
                        ("release (tovik_deinit)", release_path)):
        result = callgrind_summary.summarise(path, source)
        total = result["total"] or 1
        rows += [f"**{title}**: {result['total']:,} instructions in all.", "",
                 "| part | instructions | share |", "|---|---|---|"]
        for part, cost in sorted(result["parts"].items(), key=lambda item: -item[1]):
            rows.append(f"| {part} | {cost:,} | {100 * cost / total:.1f}% |")
        rows += ["", "| function (inlined code counted where it is defined) | instructions "
                 "| share |", "|---|---|---|"]
        for name, cost in sorted(result["functions"].items(), key=lambda item: -item[1])[:12]:
            rows.append(f"| {name} | {cost:,} | {100 * cost / total:.1f}% |")
        rows.append("")
    return rows


def rate_text(mbps):
    return f"{mbps:.0f}" if mbps >= 100 else f"{mbps:.3g}"


def write_chart(fig, path):
    bar, gap, label_width, plot_width, top = 13, 14, 110, 560, 46
    low, high = 0.01, 20000.0  # MB/s, log scale
    x_of = lambda mbps: label_width + plot_width * (
        math.log10(max(mbps, low)) - math.log10(low)) / (math.log10(high) - math.log10(low))
    groups = [c for c in INPUTS if any(fig.median(s, c) for s in CHART)]
    plot_bottom = top + len(groups) * (len(CHART) * bar + gap)
    legend_rows = (len(CHART) + 2) // 3
    height = plot_bottom + 14 + legend_rows * 18
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{label_width + plot_width + 100}" '
           f'height="{height}" font-family="sans-serif" font-size="11">',
           '<rect width="100%" height="100%" fill="white"/>',
           f'<text x="{label_width}" y="16" font-size="13" font-weight="bold">'
           'Parse and release throughput in MB/s, higher is better '
           '(log scale, median CPU time)</text>']
    for decade in range(-2, 5):
        x = x_of(10.0 ** decade)
        out.append(f'<line x1="{x:.1f}" y1="{top - 8}" x2="{x:.1f}" y2="{plot_bottom - gap}" '
                   'stroke="#ddd"/>')
        out.append(f'<text x="{x:.1f}" y="{top - 11}" text-anchor="middle" fill="#555">'
                   f'{10.0 ** decade:g}</text>')
    y = top
    for corpus in groups:
        out.append(f'<text x="{label_width - 8}" y="{y + len(CHART) * bar / 2 + 4:.1f}" '
                   f'text-anchor="end" font-weight="bold">{corpus}</text>')
        for subject in CHART:
            speed = fig.counter(subject, corpus, "bytes_per_second")
            if speed:
                mbps = speed / 1e6
                width = x_of(mbps) - label_width
                out.append(f'<rect x="{label_width}" y="{y}" width="{width:.1f}" '
                           f'height="{bar - 2}" fill="{COLOURS[subject]}"/>')
                out.append(f'<text x="{label_width + width + 4:.1f}" y="{y + bar - 3}" '
                           f'fill="#333">{rate_text(mbps)}</text>')
            else:
                out.append(f'<text x="{label_width + 4}" y="{y + bar - 3}" fill="#999">'
                           f'{subject}: not measured (see the table)</text>')
            y += bar
        y += gap
    for index, subject in enumerate(CHART):
        lx = label_width + (index % 3) * 190
        ly = plot_bottom + 14 + (index // 3) * 18
        out.append(f'<rect x="{lx}" y="{ly - 9}" width="10" height="10" '
                   f'fill="{COLOURS[subject]}"/>')
        out.append(f'<text x="{lx + 14}" y="{ly}">{subject}</text>')
    out.append("</svg>")
    with open(path, "w", encoding="utf-8") as chart:
        chart.write("\n".join(out) + "\n")


def write(results, machine_path, parse_profile, release_profile, source, md_path, svg_path):
    context, runs = load_runs(results)
    fig = Figures(runs)
    with open(machine_path, encoding="utf-8") as machine_file:
        machine = json.load(machine_file)
    repetitions = max((len(run["times"]) for run in runs.values()), default=0)
    lines = [
        "# Benchmarks",
        "",
        "Generated by `bench/run.sh` from one run of `daduzozi_bench`; do not edit by hand.",
        "",
        "## Machine and run",
        "",
        f"- CPU: {machine['cpu']}, {machine['cores']} cores "
        f"(Google Benchmark saw {context.get('num_cpus', '?')} at "
        f"{context.get('mhz_per_cpu', '?')} MHz)",
        f"- Compiler: {machine['compiler']}; build type Release (the `bench` preset)",
        f"- Library: commit {machine['commit']}",
        f"- Date: {machine['date']}; load average at the start: {machine['load']}",
        f"- Command: `{machine['command']}`",
        f"- {repetitions} repetitions; every time is the median of the repetitions' CPU "
        "times, with their minimum and maximum. Ratios compare medians of the same run.",
        "",
        "![Throughput per input and parser](benchmarks.svg)",
        "",
        "## Targets",
        "",
        "Ratios of medians from this run. A peer counts as \"storing\" when it keeps the "
        "pairs it read (every peer but inih_nostore).",
        "",
    ]
    lines += targets(fig)
    lines += ["", "## Parse and release, per input", ""]
    lines += ["| subject | what is timed |", "|---|---|"]
    lines += [f"| {s} | {ABOUT[s]} |" for s in PARSERS + BASELINES]
    for corpus in INPUTS:
        size = (fig.counter("memchr_scan", corpus, "bytes_per_second") or 0) * (
            fig.median("memchr_scan", corpus) or 0)
        keys = fig.counter("inih_nostore", corpus, "pairs")
        lines += ["", f"### {corpus} ({megabytes(size)}"
                  + (f", {keys:.0f} pairs read by inih" if keys else "") + ")", ""]
        lines += throughput_table(fig, corpus, size)
    visit = fig.counter("ours_malloc", "wide", "ns_per_sibling_visit")
    if visit:
        records = fig.counter("ours_malloc", "wide", "records")
        lines += ["", f"wide: {records:.0f} distinct keys under one section make "
                  f"{records * (records - 1) / 2:.4g} sibling visits (n(n-1)/2); ours_malloc "
                  f"spends {visit * 1e9:.2f} ns per visit, ours_arena "
                  f"{(fig.counter('ours_arena', 'wide', 'ns_per_sibling_visit') or 0) * 1e9:.2f} ns."]
    lines += ["", "## Lookups of every key", ""] + lookup_table(fig)
    lines += ["", "## Memory", "",
              "Bytes requested by the parser are checked in every run against the sizes the "
              "records and nodes define (fixed fields plus (length + 1) rounded up to 4 per "
              "text); a difference fails the benchmark. Heap per key line is the growth of "
              "glibc's in-use heap (mallinfo2: uordblks + hblkhd, chunk headers included) "
              "while one parsed result is held, divided by the key lines of the input; GLib "
              "runs with G_SLICE=always-malloc so that its blocks are counted too.", ""]
    lines += memory_table(fig)
    lines += ["", "## Where the time goes", "",
              "Instruction counts from `valgrind --tool=callgrind` of "
              "`daduzozi_profile_driver typical` (the library built as in Release, with debug "
              "lines). Inlined code is charged to the function that defines it; the list "
              "link helpers, shared by records and nodes, are counted apart; the scanner part is "
              "everything else defined up to the scan loop, the tree builder part what follows; "
              "calls into memcpy/memchr/memcmp are charged to their caller, and allocation is "
              "everything inside the malloc/free callbacks. Instructions are not time: cache "
              "misses on the sibling lists weigh more than their count.", ""]
    lines += profile_section(parse_profile, release_profile, source)
    lines += ["## Inputs", "",
              "- typical, wide, deep, small: made by `bench/corpus.cpp` from a fixed seed "
              "(the same bytes on every machine).",
              "- real: the plain INI-style files found on the machine running the benchmark "
              "(systemd units, .desktop files, setup.cfg, *.ini under /etc, /usr/lib, "
              "/usr/local/lib and /usr/share), concatenated in path order; files with line "
              "continuations, indented lines, keys outside a section or over-long lines are "
              "left out so that every reader reads the same text. Its size and figures "
              "differ between machines.",
              "- GKeyFile reads the same text with ';' comment markers turned into '#'. "
              "iniparser reads a temporary file holding the text (it has no in-memory "
              "entry point). Boost refuses inputs with a repeated section name, such as the "
              "concatenated real files.", ""]
    with open(md_path, "w", encoding="utf-8") as md:
        md.write("\n".join(lines))
    write_chart(fig, svg_path)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "check":
        sys.exit(check(sys.argv[2]))
    if len(sys.argv) == 9 and sys.argv[1] == "write":
        write(*sys.argv[2:])
        sys.exit(0)
    print(__doc__)
    sys.exit(2)
