#!/usr/bin/env python3
"""Helper of bench/soak/run.sh (standard library only).

  soak_driver.py run CORPUS IMPORTS EVERY LANE_PID
      imports the documents of CORPUS (its BASELINE.tsv order) one after the
      other, round after round, IMPORTS times, each through
      "/import_file_as_html" on 127.0.0.1:3465 with the chooser answered by
      xdotool; every EVERY imports prints a line of what Docklane (LANE_PID)
      and its engine hold, and at the end, per round through the corpus, the
      most each figure reached and whether anything grew or was left over.
"""

import json
import os
import socket
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "import"))
from import_driver import (PORT, REPLY_WAIT_S, CHOOSER_ANSWER_S, read_reply, run_bounded,  # noqa: E402
                           send_import, type_path)


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


ENGINE_FOLDER_PREFIX = "docklane-office-"


def top_level(folder, skip):
    """The engine's folders and the other entries at the top of `folder`, but `skip`."""
    engines, others = [], []
    for name in sorted(os.listdir(folder)):
        if name != skip:
            (engines if name.startswith(ENGINE_FOLDER_PREFIX) else others).append(name)
    return engines, others


class Sampler:
    def __init__(self, lane_pid, round_size):
        self.lane = lane_pid
        self.round_size = round_size
        self.runtime = os.environ["XDG_RUNTIME_DIR"]
        self.export_root = os.path.join(self.runtime, "docklane")
        self.tmp = os.environ["TMPDIR"]
        self.rows = []
        print(f"{'import':>6} {'s':>7} {'pages':>5} {'fails':>5} {'lane RSS':>9} {'lane fds':>8} {'threads':>7} "
              f"{'engine':>7} {'eng RSS':>8} {'eng fds':>7} {'children':>20} {'export':>6} {'eng dirs':>8} "
              f"{'eng files':>9} {'runtime':>7} {'tmp':>4}")

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
        # The runtime folder holds the export root, the engine's folder (its
        # profile and temporaries, removed when it stops) and the pipe.
        engine_dirs, others = top_level(self.runtime, "docklane")
        row = {
            "import": done, "s": seconds, "pages": pages, "failures": failures,
            "round": (done - 1) // self.round_size + 1 if done else 0,
            "lane_rss_kib": kib(lane, "VmRSS"), "lane_hwm_kib": kib(lane, "VmHWM"),
            "lane_fds": descriptors(self.lane), "lane_threads": int(lane.get("Threads", "0")),
            "engine_pid": engines[0] if engines else 0, "engine_rss_kib": kib(engine, "VmRSS"),
            "engine_fds": descriptors(engines[0]) if engines else 0,
            "children": names,
            "export_entries": count_files(self.export_root),
            "engine_dirs": engine_dirs,
            "engine_files": sum(count_files(os.path.join(self.runtime, d)) for d in engine_dirs),
            "runtime_others": others,
            "tmp_entries": count_files(self.tmp),
        }
        self.rows.append(row)
        children = ",".join(f"{n}:{c}" for n, c in sorted(names.items())) or "-"
        print(f"{done:>6} {seconds:>7.1f} {pages:>5} {failures:>5} {row['lane_rss_kib'] / 1024:>8.1f}M "
              f"{row['lane_fds']:>8} {row['lane_threads']:>7} {row['engine_pid']:>7} "
              f"{row['engine_rss_kib'] / 1024:>7.1f}M {row['engine_fds']:>7} {children:>20} "
              f"{row['export_entries']:>6} {len(engine_dirs):>8} {row['engine_files']:>9} "
              f"{len(others):>7} {row['tmp_entries']:>4}", flush=True)

    def verdict(self):
        """Per round through the corpus, the most each figure reached; the
        rounds after the second must reach no more than the second (the
        first round is the first time each document passes)."""
        rounds = sorted({r["round"] for r in self.rows if r["round"] > 0})
        def most(key, rnd):
            return max(r[key] for r in self.rows if r["round"] == rnd)
        print()
        print(f"{'round':>5} {'imports':>9} {'lane RSS max':>13} {'lane fds max':>12} {'threads max':>11} "
              f"{'engine RSS max':>14} {'engines':>20} {'export max':>10} {'eng dirs max':>12} {'tmp max':>7}")
        for rnd in rounds:
            rows = [r for r in self.rows if r["round"] == rnd]
            pids = sorted({r["engine_pid"] for r in rows if r["engine_pid"]})
            print(f"{rnd:>5} {rows[0]['import']:>4}-{rows[-1]['import']:<4} {most('lane_rss_kib', rnd) / 1024:>12.1f}M "
                  f"{most('lane_fds', rnd):>12} {most('lane_threads', rnd):>11} "
                  f"{most('engine_rss_kib', rnd) / 1024:>13.1f}M {','.join(map(str, pids)):>20} "
                  f"{most('export_entries', rnd):>10} {max(len(r['engine_dirs']) for r in rows):>12} "
                  f"{most('tmp_entries', rnd):>7}")
        findings = []
        ok = True
        if len(rounds) >= 3:
            base, later = rounds[1], rounds[2:]
            for key, slack, label in (("lane_rss_kib", 8 * 1024, "Docklane RSS (KiB)"),
                                      ("lane_fds", 0, "Docklane open descriptors"),
                                      ("lane_threads", 0, "Docklane threads")):
                before = most(key, base)
                after = max(most(key, rnd) for rnd in later)
                steady = after - before <= slack
                ok &= steady
                findings.append((f"{label}, most in round {base} -> most in a later round", before, after,
                                 "steady" if steady else "GREW"))
        else:
            findings.append(("fewer than three rounds: growth is not judged", "-", "-", ""))
        last = self.rows[-1]
        checks = (
            ("export root entries after an import, most seen", max(r["export_entries"] for r in self.rows[1:]), 0),
            ("engine folders in the runtime folder, most seen", max(len(r["engine_dirs"]) for r in self.rows), 1),
            ("engine processes at once, most seen", max(r["children"].get("soffice.bin", 0) for r in self.rows), 1),
            ("other child processes after an import, most seen",
             max(sum(c for n, c in r["children"].items() if n not in ("soffice.bin", "oosplash"))
                 for r in self.rows), 0),
            ("files in the temporary folder (TMPDIR), most seen", max(r["tmp_entries"] for r in self.rows), 0),
            # The chooser makes its settings folder (dconf) on its first run.
            ("other entries in the runtime folder, at the end against after the first sample",
             len(last["runtime_others"]), len(self.rows[min(1, len(self.rows) - 1)]["runtime_others"])),
        )
        for label, seen, allowed in checks:
            fine = seen <= allowed
            ok &= fine
            findings.append((label, allowed, seen, "steady" if fine else "LEFT OVER"))
        print()
        for label, before, after, verdict in findings:
            print(f"{label:<80} {before!s:>10} -> {after!s:>10}  {verdict}")
        print("runtime folder at the end:", ", ".join(last["engine_dirs"] + last["runtime_others"]))
        print("nothing grew" if ok else "SOMETHING GREW")
        return ok


def one_import(title, path, kind):
    sock = socket.create_connection(("127.0.0.1", PORT), timeout=10)
    try:
        _, sent, window, chooser = send_import(sock, title, kind)
        for _ in range(2):
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


def soak(corpus, imports, every, lane_pid):
    documents = corpus_documents(corpus)
    sampler = Sampler(lane_pid, len(documents))
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
    if len(argv) == 6 and argv[1] == "run":
        return soak(argv[2], int(argv[3]), int(argv[4]), int(argv[5]))
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
