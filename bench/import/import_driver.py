#!/usr/bin/env python3
"""Helper of bench/import/run.sh (standard library only).

  import_driver.py docs DIR
      writes DIR/onepage.docx (text and two small noise pictures),
      DIR/twenty.docx (twenty 1 MiB noise PNGs), and the pictures
      themselves into DIR/small/ and DIR/pictures/ (reply checks, base64).
  import_driver.py import TITLE PATH EXPORT_ROOT PICTURE...
      one "/import_file_as_html" on 127.0.0.1:3465 with the chooser titled
      TITLE answered with PATH; prints one JSON line of timings (seconds)
      and checks on the reply.
  import_driver.py table FIGURES.jsonl ROUNDS
      prints the figures that run.sh collected, one JSON object a line
      with a "kind" of first, warm, twenty, cold, base64, rss or sizes.
"""

import base64
import ctypes
import ctypes.util
import hashlib
import json
import os
import random
import select
import socket
import struct
import subprocess
import sys
import threading
import time
import zipfile
import zlib

PORT = 3465
WINDOW_WAIT_S = 30      # the chooser comes after a 1 s pause and zenity's start
REPLY_WAIT_S = 180      # from the request to the last byte
CHOOSER_ANSWER_S = 5    # zenity answers about 0.5 s after Return
MAX_REPLY_BYTES = 512 * 1024 * 1024
MAX_HEAD_BYTES = 64 * 1024


# ---------------------------------------------------------------- documents

def noise_png(width, height, rng):
    """An RGB PNG of random pixels: it cannot compress away."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    row = width * 3
    raw = b"".join(b"\x00" + rng.randbytes(row) for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 1)) + chunk(b"IEND", b""))


W_NS = ('xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" '
        'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" '
        'xmlns:wp="http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing" '
        'xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" '
        'xmlns:pic="http://schemas.openxmlformats.org/drawingml/2006/picture"')
EMU_PER_CM = 360000


def picture_paragraph(n, width_cm, height_cm):
    cx, cy = int(width_cm * EMU_PER_CM), int(height_cm * EMU_PER_CM)
    return (f'<w:p><w:r><w:drawing><wp:inline distT="0" distB="0" distL="0" distR="0">'
            f'<wp:extent cx="{cx}" cy="{cy}"/><wp:docPr id="{n}" name="Picture {n}"/>'
            f'<a:graphic><a:graphicData uri="http://schemas.openxmlformats.org/drawingml/2006/picture">'
            f'<pic:pic><pic:nvPicPr><pic:cNvPr id="{n}" name="image{n}.png"/><pic:cNvPicPr/></pic:nvPicPr>'
            f'<pic:blipFill><a:blip r:embed="rIdImage{n}"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill>'
            f'<pic:spPr><a:xfrm><a:off x="0" y="0"/><a:ext cx="{cx}" cy="{cy}"/></a:xfrm>'
            f'<a:prstGeom prst="rect"><a:avLst/></a:prstGeom></pic:spPr></pic:pic>'
            f'</a:graphicData></a:graphic></wp:inline></w:drawing></w:r></w:p>')


def text_paragraph(text):
    return f'<w:p><w:r><w:t xml:space="preserve">{text}</w:t></w:r></w:p>'


def write_docx(path, paragraphs, pictures):
    content_types = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                     '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                     '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                     '<Default Extension="xml" ContentType="application/xml"/>'
                     '<Default Extension="png" ContentType="image/png"/>'
                     '<Override PartName="/word/document.xml" ContentType='
                     '"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>'
                     '</Types>')
    package_rels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                    '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                    '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
                    'relationships/officeDocument" Target="word/document.xml"/></Relationships>')
    document_rels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                     '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">' +
                     "".join(f'<Relationship Id="rIdImage{n}" Type="http://schemas.openxmlformats.org/'
                             f'officeDocument/2006/relationships/image" Target="media/image{n}.png"/>'
                             for n in range(1, len(pictures) + 1)) +
                     '</Relationships>')
    document = (f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?><w:document {W_NS}><w:body>' +
                "".join(paragraphs) +
                '<w:sectPr><w:pgSz w:w="11906" w:h="16838"/><w:pgMar w:top="1134" w:right="1134" '
                'w:bottom="1134" w:left="1134" w:header="0" w:footer="0" w:gutter="0"/></w:sectPr>'
                '</w:body></w:document>')
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", content_types)
        z.writestr("_rels/.rels", package_rels)
        z.writestr("word/_rels/document.xml.rels", document_rels)
        z.writestr("word/document.xml", document)
        for n, data in enumerate(pictures, 1):
            # Noise does not deflate: store it.
            z.writestr(zipfile.ZipInfo(f"word/media/image{n}.png", (2024, 1, 1, 0, 0, 0)), data,
                       compress_type=zipfile.ZIP_STORED)


def make_docs(folder):
    rng = random.Random(3465)
    os.makedirs(os.path.join(folder, "pictures"), exist_ok=True)
    os.makedirs(os.path.join(folder, "small"), exist_ok=True)

    small = [noise_png(160, 120, rng) for _ in range(2)]
    lines = [text_paragraph("Docklane import benchmark: one page, two pictures.")]
    lines += [text_paragraph(f"Paragraph {i}: the quick brown fox jumps over the lazy dog, "
                             "and the page is brought into the editor as HTML.") for i in range(1, 9)]
    lines.insert(4, picture_paragraph(1, 4, 3))
    lines.append(picture_paragraph(2, 4, 3))
    write_docx(os.path.join(folder, "onepage.docx"), lines, small)
    for n, data in enumerate(small, 1):
        with open(os.path.join(folder, "small", f"image{n}.png"), "wb") as f:
            f.write(data)

    # 512 x 683 RGB: 1,049,771 bytes of pixel rows, about 1 MiB a picture.
    big = [noise_png(512, 683, rng) for _ in range(20)]
    lines = []
    for n in range(1, 21):
        lines.append(text_paragraph(f"Picture {n}"))
        lines.append(picture_paragraph(n, 8, 10.67))
    write_docx(os.path.join(folder, "twenty.docx"), lines, big)
    for n, data in enumerate(big, 1):
        with open(os.path.join(folder, "pictures", f"image{n:02d}.png"), "wb") as f:
            f.write(data)
    print(json.dumps({"onepage_pictures_bytes": sum(map(len, small)),
                      "twenty_pictures_bytes": sum(map(len, big))}))


# ---------------------------------------------------------------- inotify

IN_OPEN = 0x20
IN_MOVED_TO = 0x80
IN_CLOEXEC = 0o2000000
IN_NONBLOCK = 0o4000


class Watcher:
    """Stamps, on the monotonic clock, the first open of the document once
    armed, and the last time a page was moved into the export root."""

    def __init__(self, document, export_root):
        libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6", use_errno=True)
        self.fd = libc.inotify_init1(IN_CLOEXEC | IN_NONBLOCK)
        if self.fd < 0:
            raise OSError(ctypes.get_errno(), "inotify_init1")
        self.doc_dir, self.doc_name = os.path.split(document)
        self.wd_doc = libc.inotify_add_watch(self.fd, self.doc_dir.encode(), IN_OPEN)
        self.wd_root = libc.inotify_add_watch(self.fd, export_root.encode(), IN_MOVED_TO)
        if self.wd_doc < 0 or self.wd_root < 0:
            raise OSError(ctypes.get_errno(), "inotify_add_watch")
        self.armed = False  # opens before Return (the chooser looking at the file) do not count
        self.first_open = None
        self.page_installed = None   # the last time import.html was moved into place
        self.stop = False
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stop:
            ready, _, _ = select.select([self.fd], [], [], 0.05)
            if not ready:
                continue
            now = time.monotonic()
            try:
                data = os.read(self.fd, 65536)
            except BlockingIOError:
                continue
            pos = 0
            while pos + 16 <= len(data):
                wd, mask, _, length = struct.unpack_from("iIII", data, pos)
                name = data[pos + 16:pos + 16 + length].rstrip(b"\0").decode(errors="replace")
                pos += 16 + length
                if wd == self.wd_doc and mask & IN_OPEN and name == self.doc_name:
                    if self.first_open is None and self.armed:
                        self.first_open = now
                elif wd == self.wd_root and name == "import.html":
                    if mask & IN_MOVED_TO:
                        self.page_installed = now

    def close(self):
        self.stop = True
        self.thread.join(1)
        os.close(self.fd)


class ChooserExit:
    """Stamps the exit of the chooser program that owns `window`, through a
    pidfd, which becomes readable when the process ends."""

    def __init__(self, window):
        self.exited = None
        self.fd = -1
        self.stop = False
        try:
            got = run_bounded(["xdotool", "getwindowpid", window], 10)
            pid = int(got.stdout.strip())
            self.fd = os.pidfd_open(pid)
        except (ValueError, OSError, AttributeError, subprocess.TimeoutExpired):
            return  # no figure rather than a wrong one
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stop:
            ready, _, _ = select.select([self.fd], [], [], 0.05)
            if ready:
                self.exited = time.monotonic()
                return

    def wait(self, limit):
        """True once the chooser has ended, False after `limit` seconds."""
        self.thread.join(limit)
        return self.exited is not None

    def close(self):
        if self.fd < 0:
            return
        self.stop = True
        self.thread.join(1)
        os.close(self.fd)


# ---------------------------------------------------------------- one import

def run_bounded(args, limit):
    return subprocess.run(args, capture_output=True, text=True, timeout=limit)


def find_chooser(title):
    # Keys go only to a mapped window: keys sent earlier can be lost.
    found = run_bounded(["timeout", str(WINDOW_WAIT_S), "xdotool", "search", "--sync", "--onlyvisible",
                         "--name", "^" + title + "$"], WINDOW_WAIT_S + 5)
    ids = found.stdout.split()
    if found.returncode != 0 or not ids:
        raise RuntimeError(f"no chooser window titled {title!r} within {WINDOW_WAIT_S} s "
                           f"(xdotool rc {found.returncode}: {found.stderr.strip()})")
    # Docklane moves and activates the chooser just after it appears.
    time.sleep(0.3)
    return ids[0]


def type_path(window, path):
    run_bounded(["xdotool", "key", "--window", window, "ctrl+l"], 10)
    time.sleep(0.2)  # the location entry takes the keys once it is shown
    run_bounded(["xdotool", "type", "--window", window, "--delay", "5", path], 30)
    time.sleep(0.2)


def window_state(window):
    try:
        got = run_bounded(["xwininfo", "-id", window], 10)
    except (OSError, subprocess.TimeoutExpired):
        return "xwininfo failed"
    keep = [line.strip() for line in got.stdout.splitlines() if "Map State" in line or "xwininfo:" in line]
    return "; ".join(keep) or got.stderr.strip()


def read_reply(sock, deadline):
    """Reads head and body; returns (status line, headers, body, time of last byte)."""
    buf = bytearray()
    last = None
    head_end = -1
    length = None
    while True:
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise RuntimeError(f"reply not complete after {REPLY_WAIT_S} s ({len(buf)} bytes so far)")
        sock.settimeout(remaining)
        try:
            chunk = sock.recv(1 << 20)
        except socket.timeout:
            continue
        if not chunk:
            break
        last = time.monotonic()
        buf += chunk
        if len(buf) > MAX_REPLY_BYTES:
            raise RuntimeError("reply larger than 512 MiB")
        if head_end < 0:
            head_end = buf.find(b"\r\n\r\n")
            if head_end < 0 and len(buf) > MAX_HEAD_BYTES:
                raise RuntimeError("no end of the reply head in 64 KiB")
            if head_end >= 0:
                for line in bytes(buf[:head_end]).split(b"\r\n")[1:]:
                    key, _, value = line.partition(b":")
                    if key.strip().lower() == b"content-length":
                        length = int(value.strip())
        if head_end >= 0 and length is not None and len(buf) - head_end - 4 >= length:
            break
    if head_end < 0:
        raise RuntimeError(f"connection closed after {len(buf)} bytes without a reply head: {bytes(buf[:200])!r}")
    lines = bytes(buf[:head_end]).decode("latin-1").split("\r\n")
    return lines[0], lines[1:], bytes(buf[head_end + 4:]), last


def send_import(sock, title, kind="doc"):
    """Sends one "/import_file_as_html" on `sock` and finds its chooser:
    returns the request, the time it was sent, the chooser's window and a
    ChooserExit watching it."""
    request = (f"GET /import_file_as_html?file_filter={kind}&dialog_title={title} HTTP/1.1\r\n"
               f"Host: 127.0.0.1:{PORT}\r\nConnection: close\r\n\r\n")
    sent = time.monotonic()
    sock.sendall(request.encode())
    window = find_chooser(title)
    return request, sent, window, ChooserExit(window)


def one_import(title, path, export_root, pictures):
    watcher = Watcher(path, export_root)
    sock = socket.create_connection(("127.0.0.1", PORT), timeout=10)
    try:
        request, sent, window, chooser = send_import(sock, title)
        retries = 0
        while True:
            type_path(window, path)
            watcher.armed = True
            pressed = time.monotonic()
            run_bounded(["xdotool", "key", "--window", window, "Return"], 10)
            if chooser.fd < 0 or chooser.wait(CHOOSER_ANSWER_S):
                break
            # The keys went astray: say so, and try the same keys once more.
            state = window_state(window)
            print(f"chooser {window} still open {CHOOSER_ANSWER_S} s after Return ({state}); "
                  "typing the path again", file=sys.stderr)
            if retries == 1:
                raise RuntimeError(f"chooser {window} still open {CHOOSER_ANSWER_S} s after the second "
                                   f"Return ({state})")
            retries += 1
            watcher.armed = False
            watcher.first_open = None
        status, headers, body, last = read_reply(sock, sent + REPLY_WAIT_S)
    finally:
        sock.close()
        watcher.close()

    chooser.close()
    result = {"request": request.split("\r\n")[0], "status": status, "reply_bytes": len(body), "retries": retries,
              "window_after_s": round(pressed - sent, 3), "reply_s": last - pressed}
    if chooser.exited is not None:
        # The chooser program's own time from the key to its answer.
        result["return_to_chooser_exit_s"] = chooser.exited - pressed
        result["chooser_exit_to_last_byte_s"] = last - chooser.exited
        if watcher.first_open is not None:
            result["chooser_exit_to_open_s"] = watcher.first_open - chooser.exited
    if watcher.first_open is not None:
        result["return_to_open_s"] = watcher.first_open - pressed
    if watcher.first_open is not None and watcher.page_installed is not None:
        # From Docklane's first look at the document to the page in place.
        result["conversion_s"] = watcher.page_installed - watcher.first_open
    if watcher.page_installed is not None:
        result["page_to_last_byte_s"] = last - watcher.page_installed

    problems = []
    if status.split()[1:2] != ["200"]:
        problems.append(f"status line {status!r}")
    try:
        reply = json.loads(body)
    except ValueError as e:
        reply = None
        problems.append(f"body is no JSON ({e}); starts {body[:300]!r}")
    if reply is not None:
        if reply.get("success") is not True:
            problems.append("success is not true: " + json.dumps({k: v for k, v in reply.items()
                                                                    if k not in ("html", "body", "image_files")})[:600])
        if reply.get("local_filename") != path:
            problems.append(f"local_filename {reply.get('local_filename')!r}, expected {path!r}")
        images = reply.get("image_files") or {}
        result["images"] = len(images)
        if len(images) != len(pictures):
            problems.append(f"{len(images)} entries in image_files, expected {len(pictures)}")
        wanted = {hashlib.sha256(open(p, "rb").read()).hexdigest() for p in pictures}
        same, sizes = 0, 0
        for name, entry in images.items():
            try:
                data = base64.b64decode(entry.get("base64", ""), validate=True)
            except ValueError:
                problems.append(f"image {name}: base64 does not decode")
                continue
            sizes += len(data)
            same += hashlib.sha256(data).hexdigest() in wanted
        result["image_bytes"] = sizes
        result["images_identical"] = same
    result["problems"] = problems
    print(json.dumps(result))
    return 0 if not problems else 1


def median(values):
    v = sorted(values)
    n = len(v)
    return v[n // 2] if n % 2 else (v[n // 2 - 1] + v[n // 2]) / 2


def table(path, rounds):
    rows = [json.loads(line) for line in open(path) if line.strip()]
    def of(kind):
        return [r for r in rows if r.get("kind") == kind]
    def med(kind, key):
        v = [r[key] for r in of(kind) if key in r]
        return median(v) if v else None
    one = lambda kind, key: (of(kind) or [{}])[0].get(key)
    mib = 1048576.0
    out = []
    def line(label, value, note=""):
        out.append(f"{label:<60} {value:>12}  {note}".rstrip())
    def secs(x):
        return "-" if x is None else f"{x:.3f} s"
    def verdict(ok):
        return "met" if ok else "MISSED"

    phases = [("return_to_chooser_exit_s", "  Return -> chooser (zenity) exits"),
              ("chooser_exit_to_open_s", "  chooser exit -> Docklane opens the document"),
              ("conversion_s", "  document opened -> page in place (conversion)"),
              ("page_to_last_byte_s", "  page in place -> last byte (export phase)")]
    first, warm = one("first", "reply_s"), med("warm", "reply_s")
    cold = med("cold", "s")
    line("figure", "value", "target / spread")
    line("---- one-page docx, two pictures", "")
    line("first import after start (Return -> last byte)", secs(first))
    for key, label in phases:
        line(label, secs(one("first", key)))
    warm_all = sorted(r["reply_s"] for r in of("warm"))
    line(f"warm import, median of {rounds} (Return -> last byte)", secs(warm),
         f"min {warm_all[0]:.3f}, max {warm_all[-1]:.3f}")
    for key, label in phases:
        line(label + ", median", secs(med("warm", key)))
    cold_all = sorted(r["s"] for r in of("cold"))
    line("cold soffice --convert-to html, fresh profile, median of 3", secs(cold),
         " ".join(f"{x:.3f}" for x in cold_all))
    line("warm / cold", f"{warm / cold:.3f}", "<= 0.05 " + verdict(warm / cold <= 0.05))
    line("first / cold", f"{first / cold:.3f}", "<= 0.5 " + verdict(first / cold <= 0.5))
    warm_own = med("warm", "chooser_exit_to_last_byte_s")
    first_own = one("first", "chooser_exit_to_last_byte_s")
    if warm_own is not None and first_own is not None:
        line("  the same from the chooser's exit: warm / cold", f"{warm_own / cold:.3f}", "(information)")
        line("  the same from the chooser's exit: first / cold", f"{first_own / cold:.3f}", "(information)")

    total = one("sizes", "twenty_pictures_bytes")
    big = med("twenty", "reply_s")
    conversion = med("twenty", "conversion_s")
    b64 = med("base64", "s")
    n = len(of("twenty"))
    line(f"---- twenty 1 MiB noise PNGs ({total / mib:.1f} MiB)", "")
    big_all = sorted(r["reply_s"] for r in of("twenty"))
    line(f"import, median of {n} (Return -> last byte)", secs(big), " ".join(f"{x:.3f}" for x in big_all))
    for key, label in phases:
        line(label + ", median", secs(med("twenty", key)))
    line("base64 -w0 of the twenty pictures, median of 3", secs(b64))
    last = of("twenty")[-1]
    line("reply", f"{last['reply_bytes'] / mib:.1f} MiB",
         f"{last.get('images_identical')} of 20 pictures byte-identical")
    if conversion is not None:
        r = big / (conversion + b64)
        line("import / (its own conversion + base64)", f"{r:.2f}", "<= 2 " + verdict(r <= 2))
    r = big / (warm + b64)
    line("import / (one-page warm import median + base64)", f"{r:.2f}", "<= 2 " + verdict(r <= 2))
    own = med("twenty", "chooser_exit_to_last_byte_s")
    if own is not None and conversion is not None:
        line("  from the chooser's exit / (conversion + base64)", f"{own / (conversion + b64):.2f}", "(information)")
    rss = of("rss")[0]
    for who, label in (("lane", "Docklane"), ("engine", "engine soffice.bin")):
        hwm = rss.get(who + "_hwm_kib")
        if hwm is None:
            line(f"{label} VmHWM", "not found")
            continue
        r = hwm * 1024 / total
        line(f"{label} VmHWM after the twenty imports", f"{hwm / 1024:.1f} MiB", f"{r:.2f}x the pictures, < 4x " + verdict(r < 4))
        before = rss.get(who + "_hwm_before_kib")
        if before is not None:
            line(f"  {label} VmHWM before them (one-page imports only)", f"{before / 1024:.1f} MiB",
                 f"growth {(hwm - before) * 1024 / total:.2f}x the pictures")
    retried = sum(r.get("retries", 0) for r in rows)
    line("imports whose chooser needed its keys typed again", str(retried))
    print("\n".join(out))


def main(argv):
    if len(argv) >= 3 and argv[1] == "docs":
        make_docs(argv[2])
        return 0
    if len(argv) >= 5 and argv[1] == "import":
        pictures = argv[5:]
        return one_import(argv[2], argv[3], argv[4], pictures)
    if len(argv) >= 4 and argv[1] == "table":
        table(argv[2], argv[3])
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except (RuntimeError, OSError, subprocess.TimeoutExpired) as e:
        print(json.dumps({"problems": [str(e)]}))
        sys.exit(1)
