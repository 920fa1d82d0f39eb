#!/usr/bin/env python3
"""Helper of bench/soak/run.sh (standard library only).

  soak_driver.py run CORPUS IMPORTS EVERY LANE_PID WORK
      imports the documents of CORPUS (its BASELINE.tsv order) one after the
      other, round after round, IMPORTS times, each through
      "/import_file_as_html" on 127.0.0.1:3465 with the chooser answered by
      xdotool; every EVERY imports prints a line of what Docklane (LANE_PID)
      and its engine hold, and at the end whether anything grew.
"""

import json
import os
import socket
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "import"))
from import_driver import (PORT, REPLY_WAIT_S, CHOOSER_ANSWER_S, ChooserExit, find_chooser,  # noqa: E402
                           read_reply, run_bounded, type_path)


def filter_for(name):
    extension = name.rsplit(".", 1)[-1].lower()
    if extension in ("xls", "xlsx"):
        return "xls"
    if extension == "pptx":
        return "pptslide"
    if extension == "ppt":
        return "ppt"
    return "doc"


def corpus_documents(corpus):
    with open(os.path.join(corpus, "BASELINE.tsv")) as f:
        rows = [line.rstrip("\n").split("\t") for line in f][1:]
    return [os.path.join(corpus, row[0]) for row in rows if row and row[0]]


# ---------------------------------------------------------------- processes

def status(pid):
    values = {}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                key, _, value = line.partition(":")
                values[key] = value.strip()
    except OSError:
        return None
    return values


def kib(values, key):
    return int(values.get(key, "0 kB").split()[0]) if values else 0


def descriptors(pid):
    try:
        return len(os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return 0


def descendants(root):
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            values = status(entry)
            if values:
                children.setdefault(int(values.get("PPid", "0")), []).append((int(entry), values.get("Name", "?")))
    found, todo = [], [root]
    while todo:
        for pid, name in children.get(todo.pop(), []):
            found.append((pid, name))
            todo.append(pid)
    return found


def count_files(folder):
    total = 0
    for _, dirs, files in os.walk(folder):
        total += len(files) + len(dirs)
    return total


class Sampler:
    def __init__(self, lane_pid, work):
        self.lane = lane_pid
        self.work = work
        self.runtime = os.environ["XDG_RUNTIME_DIR"]
        self.export_root = os.path.join(self.runtime, "docklane")
        self.tmp = os.environ["TMPDIR"]
        self.rows = []
        print(f"{'import':>6} {'s':>7} {'pages':>5} {'fails':>5} {'lane RSS':>9} {'lane fds':>8} {'threads':>7} "
              f"{'engine':>7} {'eng RSS':>8} {'eng fds':>7} {'children':>20} {'export':>6} {'runtime':>7} {'tmp':>4}")

    def sample(self, done, seconds, pages, failures):
        # The last reply's connection and the chooser's process are let go
        # of just after its last byte: what is counted is what stays.
        time.sleep(0.5)
        lane = status(self.lane)
        if lane is None:
            raise RuntimeError("Docklane has ended")
        family = descendants(self.lane)
        engines = [pid for pid, name in family if name == "soffice.bin"]
        engine = status(engines[0]) if engines else None
        names = {}
        for _, name in family:
            names[name] = names.get(name, 0) + 1
        row = {
            "import": done, "s": seconds, "pages": pages, "failures": failures,
            "lane_rss_kib": kib(lane, "VmRSS"), "lane_hwm_kib": kib(lane, "VmHWM"),
            "lane_fds": descriptors(self.lane), "lane_threads": int(lane.get("Threads", "0")),
            "engine_pid": engines[0] if engines else 0, "engine_rss_kib": kib(engine, "VmRSS"),
            "engine_fds": descriptors(engines[0]) if engines else 0,
            "children": names,
            "export_entries": count_files(self.export_root),
            "runtime_entries": count_files(self.runtime) - count_files(self.export_root),
            "tmp_entries": count_files(self.tmp),
        }
        self.rows.append(row)
        children = ",".join(f"{n}:{c}" for n, c in sorted(names.items())) or "-"
        print(f"{done:>6} {seconds:>7.1f} {pages:>5} {failures:>5} {row['lane_rss_kib'] / 1024:>8.1f}M "
              f"{row['lane_fds']:>8} {row['lane_threads']:>7} {row['engine_pid']:>7} "
              f"{row['engine_rss_kib'] / 1024:>7.1f}M {row['engine_fds']:>7} {children:>20} "
              f"{row['export_entries']:>6} {row['runtime_entries']:>7} {row['tmp_entries']:>4}", flush=True)

    def verdict(self):
        """What grew between the first sample after a full round and the last."""
        rows = self.rows
        warm = rows[min(len(rows) - 1, max(1, len(rows) // 5))]
        last = rows[-1]
        findings = []

        def grew(key, slack, label, unit=""):
            change = last[key] - warm[key]
            verdict = "grew" if change > slack else "steady"
            findings.append((label, warm[key], last[key], change, unit, verdict))
            return change <= slack

        ok = True
        ok &= grew("lane_rss_kib", 8 * 1024, "Docklane RSS", " KiB")
        ok &= grew("lane_fds", 0, "Docklane open descriptors")
        ok &= grew("lane_threads", 0, "Docklane threads")
        ok &= grew("runtime_entries", 50, "files in the runtime folder (engine profile and temporaries)")
        ok &= grew("tmp_entries", 0, "files in the temporary folder (TMPDIR)")
        # The engine is restarted after 100 documents: its RSS is compared at
        # the same point of its life, the last sample against the largest.
        engine_peak = max(r["engine_rss_kib"] for r in rows)
        findings.append(("engine RSS, largest sample / last", engine_peak, last["engine_rss_kib"], 0, " KiB",
                         "(restarted every 100 documents)"))
        leftovers = max(r["export_entries"] for r in rows[1:]) if len(rows) > 1 else 0
        findings.append(("export root entries after an import, most seen", 0, leftovers, leftovers, "",
                         "steady" if leftovers == 0 else "LEFT OVER"))
        ok &= leftovers == 0
        engines = max(r["children"].get("soffice.bin", 0) for r in rows)
        others = max(sum(c for n, c in r["children"].items() if n not in ("soffice.bin", "oosplash"))
                     for r in rows)
        findings.append(("engine processes at once, most seen", 1, engines, engines - 1, "",
                         "steady" if engines <= 1 else "MORE THAN ONE"))
        findings.append(("other child processes after an import, most seen", 0, others, others, "",
                         "steady" if others == 0 else "LEFT OVER"))
        ok &= engines <= 1 and others == 0
        print()
        for label, before, after, change, unit, verdict in findings:
            print(f"{label:<62} {before:>10}{unit} -> {after:>10}{unit}  {verdict}")
        print("nothing grew" if ok else "SOMETHING GREW")
        return ok


def one_import(title, path, kind):
    sock = socket.create_connection(("127.0.0.1", PORT), timeout=10)
    try:
        request = (f"GET /import_file_as_html?file_filter={kind}&dialog_title={title} HTTP/1.1\r\n"
                   f"Host: 127.0.0.1:{PORT}\r\nConnection: close\r\n\r\n")
        sent = time.monotonic()
        sock.sendall(request.encode())
        window = find_chooser(title)
        chooser = ChooserExit(window)
        for attempt in range(2):
            type_path(window, path)
            run_bounded(["xdotool", "key", "--window", window, "Return"], 10)
            if chooser.fd < 0 or chooser.wait(CHOOSER_ANSWER_S):
                break
        chooser.close()
        status_line, _, body, _ = read_reply(sock, sent + REPLY_WAIT_S)
    finally:
        sock.close()
    if status_line.split()[1:2] != ["200"]:
        raise RuntimeError(f"status line {status_line!r}")
    reply = json.loads(body)
    if not isinstance(reply.get("success"), bool):
        raise RuntimeError("no success member in the reply")
    return reply["success"], len(body)


def soak(corpus, imports, every, lane_pid, work):
    documents = corpus_documents(corpus)
    sampler = Sampler(lane_pid, work)
    start = time.monotonic()
    pages = failures = errors = 0
    sampler.sample(0, 0.0, pages, failures)
    for n in range(1, imports + 1):
        path = documents[(n - 1) % len(documents)]
        try:
            succeeded, _ = one_import(f"DocklaneSoak{n}", path, filter_for(path))
            pages += succeeded
            failures += not succeeded
        except (RuntimeError, OSError, ValueError) as e:
            errors += 1
            print(f"import {n} of {path}: {e}", file=sys.stderr)
            if status(lane_pid) is None:
                raise RuntimeError(f"Docklane ended during import {n} of {path}")
        if n % every == 0 or n == imports:
            sampler.sample(n, time.monotonic() - start, pages, failures)
    print(f"\n{imports} imports of {len(documents)} documents in {time.monotonic() - start:.0f} s: "
          f"{pages} pages, {failures} failure replies, {errors} imports without a reply")
    return 0 if sampler.verdict() and errors == 0 else 1


def main(argv):
    if len(argv) == 7 and argv[1] == "run":
        return soak(argv[2], int(argv[3]), int(argv[4]), int(argv[5]), argv[6])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
