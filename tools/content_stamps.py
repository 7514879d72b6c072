"""The publisher's stamp cache (a file whose size and last-write time match its last cut is not
read again) and the progress lines of a long cut and of the compression after it."""
import json
import os
import struct
import sys
import time
from pathlib import Path

# 2: a file's chunks as one hex string of (SHA-256, little-endian 32-bit size) records, which a
# large game's cache of 800,000 chunks reads and writes in a fraction of a second. A cache of
# another format is set aside like a damaged one, costing one full cut.
FORMAT = 2
_RECORD = struct.Struct("<32sI")
# A file written within this long of its cut may change again within the same time stamp
# (coarse file system clocks): its stamp would vouch for bytes it never saw, so none is kept.
RACY_NS = 2_000_000_000
PROGRESS_SECONDS = 2.0


def default_path(out):
    """Beside the patch folder, never inside it: everything in the folder is signed and served."""
    out = Path(out).resolve()
    return out.with_name(out.name + ".publish-stamps.json")


class Stamps:
    """{absolute path: size, last-write ns, chunk sizes, [(sha, raw)]} kept between runs, and
    the deltas found not worth keeping (refused)."""

    def __init__(self, path):
        self.path = Path(path)
        self.entries, self.hits, self.cuts = {}, 0, 0
        self.refused, self.refusals = set(), set()
        try:
            data = json.loads(self.path.read_text(encoding="utf-8"))
            if data.get("format") == FORMAT and isinstance(data.get("files"), dict):
                self.entries = data["files"]
                self.refused = {key for key in data.get("refused", ()) if isinstance(key, str)}
        except (OSError, ValueError, AttributeError, TypeError):
            # A lost or damaged cache only costs a full cut.
            self.entries, self.refused = {}, set()

    def refused_before(self, key):
        """Whether a delta (key: content_delta.refusal_key) was found not worth keeping by an
        earlier run; kept for the next run either way, so that refusals last while they count."""
        if key in self.refused:
            self.refusals.add(key)
            return True
        return False

    def refuse(self, key):
        self.refused.add(key)
        self.refusals.add(key)

    @staticmethod
    def _key(path):
        return os.fsdecode(os.path.abspath(path))

    def chunks(self, path, info, sizes):
        """[(sha, offset, length)] of the file's last cut when its stamp still holds, or None."""
        entry = self.entries.get(self._key(path))
        if not isinstance(entry, dict) or entry.get("size") != info.st_size or \
                entry.get("mtime_ns") != info.st_mtime_ns or entry.get("sizes") != list(sizes):
            return None
        out, offset = [], 0
        try:
            for sha, raw in _RECORD.iter_unpack(bytes.fromhex(entry["chunks"])):
                out.append((sha, offset, raw))
                offset += raw
        except (KeyError, TypeError, ValueError, struct.error):
            return None
        if offset != info.st_size:
            return None
        self.hits += 1
        return out

    def record(self, path, info, sizes, chunks, started_ns):
        key = self._key(path)
        if info.st_mtime_ns >= started_ns - RACY_NS:
            self.entries.pop(key, None)
            return
        self.entries[key] = {"size": info.st_size, "mtime_ns": info.st_mtime_ns, "sizes": list(sizes),
                             "chunks": b"".join(_RECORD.pack(sha, length) for sha, _, length in chunks).hex()}

    def save(self):
        """Written whole and renamed; a cache that cannot be written is only a warning."""
        part = self.path.with_name(self.path.name + ".part")
        try:
            part.write_text(json.dumps({"format": FORMAT, "files": self.entries, "refused": sorted(self.refusals)},
                                       separators=(",", ":")),
                            encoding="utf-8")
            os.replace(part, self.path)
        except OSError as error:
            print(f"publish_patch: warning: the stamp cache {self.path} was not written: {error}", file=sys.stderr)


class ProgressLine:
    """What the publisher's progress lines share: one line on stderr at most every
    PROGRESS_SECONDS, with the rate of the bytes counted so far. show(now) writes the line."""

    def __init__(self, stream=None):
        self.stream = stream or sys.stderr
        self.bytes = 0
        self.started = self.shown = time.monotonic()

    def tick(self):
        now = time.monotonic()
        if now - self.shown >= PROGRESS_SECONDS:
            self.shown = now
            self.show(now)

    def rate(self, now):
        """MiB/s since the start."""
        return self.bytes / max(now - self.started, 1e-9) / (1 << 20)

    def say(self, text):
        print(f"publish_patch: {text}", file=self.stream, flush=True)


class Progress(ProgressLine):
    """The line of a long cut: files, bytes, new chunks, rate."""

    def __init__(self, total_files, stream=None):
        super().__init__(stream)
        self.total, self.files, self.new = total_files, 0, 0

    def add(self, size, new_chunks):
        self.files += 1
        self.bytes += size
        self.new += new_chunks
        self.tick()

    def show(self, now):
        self.say(f"cut {self.files} of {self.total} file(s), {self.bytes} bytes, {self.new} new chunk(s), "
                 f"{self.rate(now):.1f} MiB/s")


class Storing(ProgressLine):
    """The line while new chunks are compressed and stored: a large game's first publication at
    a slow level spends most of its hours here."""

    def __init__(self, total_chunks, total_bytes, stream=None):
        super().__init__(stream)
        self.total, self.total_bytes, self.chunks = total_chunks, total_bytes, 0

    def add(self, raw):
        self.chunks += 1
        self.bytes += raw
        self.tick()

    def show(self, now):
        self.say(f"stored {self.chunks} of {self.total} new chunk(s), {self.bytes} of {self.total_bytes} bytes, "
                 f"{self.rate(now):.1f} MiB/s")
