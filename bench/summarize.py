#!/usr/bin/env python3
"""Turns bench/run's raw results into the table it prints and into bench/out/latest.md.

usage: summarize.py RESULTS.tsv CORPORA_DIR MACHINE.txt VERIFY.txt LATEST.md
"""
import csv
import os
import statistics
import sys
import zipfile

ORDER = ["tiny", "small", "large", "stored", "cp932", "one", "deflate64", "aes256"]
TOOLS = ["zipdrop", "unzip", "bsdtar", "7z"]
ABOUT = {
    "tiny": "one 26-byte file: start-up, clean-up of TEMP and the opener launch",
    "small": "many small files in nested folders, 15% of them incompressible",
    "large": "four large text-like files (logs, CSV, prose), deflated",
    "stored": "the same four files, stored without compression",
    "cp932": "Japanese names in CP932 without the UTF-8 flag",
    "one": "one 512 MiB text-like file, deflated: one stream, one core",
    "deflate64": "four text-like files in Deflate64, which only 7-Zip of the peers reads",
    "aes256": "one 512 MiB text-like file, stored and encrypted with AES-256 by 7-Zip",
}


def corpus_line(corpora, name):
    path = os.path.join(corpora, name + ".zip")
    with zipfile.ZipFile(path) as archive:
        files = [i for i in archive.infolist() if not i.is_dir()]
    size = sum(i.file_size for i in files)
    return len(files), size / 2**20, os.path.getsize(path) / 2**20


def main():
    results, corpora, machine_path, verify_path, latest = sys.argv[1:6]
    runs = {}
    with open(results, newline="") as f:
        for row in csv.DictReader(f, delimiter="\t"):
            runs.setdefault((row["corpus"], row["tool"]), []).append(row)
    machine = dict(line.rstrip("\n").split("=", 1) for line in open(machine_path) if "=" in line)
    verify = [line.rstrip("\n") for line in open(verify_path)]

    header = ["corpus", "tool", "median s", "vs zipdrop", "peak MiB", "runs"]
    rows = []
    for corpus in ORDER:
        medians = {}
        for tool in TOOLS:
            got = runs.get((corpus, tool), [])
            if not got:
                continue
            medians[tool] = statistics.median(float(r["wall_s"]) for r in got)
        for tool in TOOLS:
            got = runs.get((corpus, tool), [])
            if not got:
                continue
            failed = [r for r in got if r["rc"] != "0"]
            status = "%d ok" % len(got) if not failed else "FAILED %d/%d (exit %s)" % (
                len(failed), len(got), ",".join(sorted({r["rc"] for r in failed})))
            ratio = ""
            if tool != "zipdrop" and medians.get("zipdrop"):
                ratio = "%.2f" % (medians[tool] / medians["zipdrop"])
            memory = statistics.median(int(r["maxrss_kib"]) for r in got) / 1024
            seconds = medians[tool]
            rows.append([corpus, tool, "%.3f" % seconds if seconds < 10 else "%.2f" % seconds,
                         ratio, "%.1f" % memory, status])

    widths = [max(len(h), *(len(r[i]) for r in rows)) for i, h in enumerate(header)]
    right = {2, 3, 4}

    def text_row(cells):
        return "  ".join(c.rjust(w) if i in right else c.ljust(w)
                         for i, (c, w) in enumerate(zip(cells, widths))).rstrip()

    print()
    print(text_row(header))
    print(text_row(["-" * w for w in widths]))
    previous = None
    for r in rows:
        if previous and r[0] != previous:
            print()
        print(text_row(r if r[0] != previous else [""] + r[1:]))
        previous = r[0]
    print()
    print("vs zipdrop = tool's median time / zipdrop's (above 1: zipdrop is faster).")
    print("Harness cost in every time above: %s." % machine.get("harness", "?"))
    print("Written to bench/out/latest.md")

    md = ["# zipdrop extraction benchmark", ""]
    md.append("%s; scale %s, %s repetitions (the tiny archive %s runs per repetition)." % (
        machine.get("date"), machine.get("scale"), machine.get("reps"), machine.get("tiny_runs")))
    md.append("")
    md.append("Machine: %s CPUs (%s), %s memory, %s file system, %s; load average %s." % (
        machine.get("nproc"), machine.get("cpu"), machine.get("memory"),
        machine.get("filesystem"), machine.get("kernel"), machine.get("load")))
    md.append("")
    md.append("Tools: zipdrop %s; %s; %s; %s." % (
        machine.get("zipdrop"), machine.get("unzip"), machine.get("bsdtar"), machine.get("7z")))
    md.append("")
    md.append("| corpus | what | files | MiB | archive MiB |")
    md.append("|---|---|---:|---:|---:|")
    for corpus in ORDER:
        files, size, packed = corpus_line(corpora, corpus)
        md.append("| %s | %s | %d | %.1f | %.1f |" % (corpus, ABOUT[corpus], files, size, packed))
    md.append("")
    md.append("| " + " | ".join(header) + " |")
    md.append("|---|---|---:|---:|---:|---|")
    for r in rows:
        md.append("| " + " | ".join(r) + " |")
    md.append("")
    md.append("Median wall time over the runs; *vs zipdrop* is the tool's median divided by "
              "zipdrop's (above 1: zipdrop is faster); peak memory is the median of the maximum "
              "resident set size. Every time includes the harness's own cost of %s." %
              machine.get("harness", "?"))
    md.append("")
    md.append("Output check (zipdrop against bsdtar, once per corpus):")
    md.append("")
    md.extend("    " + line for line in verify)
    md.append("")
    with open(latest, "w", encoding="utf-8") as out:
        out.write("\n".join(md))


if __name__ == "__main__":
    main()
