"""Earlier releases' pack frames fetched by byte range from the served patch base: what a build
machine that keeps only Content/releases/ needs of the pack store to make its deltas."""
import http.client
import ssl
import threading
import time
import urllib.parse

from content_publish import PACKS, ContentError
from content_stamps import ProgressLine

DEFAULT_GAP = 65536
# A range's answer is held in memory until its frames are checked: neighbours merge only up to this.
LARGEST_RANGE = 8 << 20
ATTEMPTS = 3
BACKOFF_SECONDS = 0.25
TIMEOUT_SECONDS = 30
# Answers a CDN gives while an edge or the origin is busy; anything else would be the same again.
RETRIED_STATUS = {408, 425, 429, 500, 502, 503, 504}


def check_url(url):
    """(scheme, host, port, path without a trailing /) of a base URL packs may come from."""
    try:
        parts = urllib.parse.urlsplit(url)
        port = parts.port
    except ValueError as error:
        raise ContentError(f"--base-url {url}: {error}") from None
    if parts.scheme not in ("https", "http") or not parts.hostname:
        raise ContentError(f"--base-url {url}: give https://HOST[:PORT]/PATH, the folder that holds Content/")
    if parts.query or parts.fragment or parts.username or parts.password:
        raise ContentError(f"--base-url {url}: no query, fragment or user name")
    if parts.scheme == "http" and parts.hostname != "127.0.0.1":
        # The chunk hashes guard the bytes but not the request: in the clear anyone on the path
        # can see which store a pipeline builds from and break it at will. A mirror on this
        # machine has no such path.
        raise ContentError(f"--base-url {url}: plain http only for 127.0.0.1; use https")
    return parts.scheme, parts.hostname, port, parts.path.rstrip("/")


def tls_context(ca_file=None):
    """The system's certificate store, or only the operator's CA file."""
    try:
        return ssl.create_default_context(cafile=ca_file) if ca_file else ssl.create_default_context()
    except (OSError, ssl.SSLError) as error:
        raise ContentError(f"--ca-file {ca_file}: {error}") from None


def ranges(chunks, gap, largest=LARGEST_RANGE):
    """[(first byte, end, [(offset, stored)])] of one pack's single-range requests for chunks
    [(offset, stored)]: a range runs on over the next chunk when at most gap bytes lie between
    them and it stays within largest bytes (one chunk alone may be longer)."""
    out = []
    for offset, stored in sorted(set(chunks)):
        if out and offset - out[-1][1] <= gap and offset + stored - out[-1][0] <= largest:
            out[-1][1] = max(out[-1][1], offset + stored)
            out[-1][2].append((offset, stored))
        else:
            out.append([offset, offset + stored, [(offset, stored)]])
    return [tuple(r) for r in out]


def _read_exactly(response, count):
    """At most count + 1 bytes of the body: one more than asked shows a longer answer."""
    parts, got = [], 0
    while got <= count:
        data = response.read(count + 1 - got)
        if not data:
            break
        parts.append(data)
        got += len(data)
    return b"".join(parts)


class Served(ProgressLine):
    """The packs below a base URL, fetched on one kept-alive connection per thread (the
    publisher makes several deltas at once); counts what it fetched for the progress line."""

    def __init__(self, url, ca_file=None, gap=DEFAULT_GAP, stream=None):
        self.scheme, self.host, self.port, self.path = check_url(url)
        self.url, self.gap = url.rstrip("/"), gap
        self.context = tls_context(ca_file) if self.scheme == "https" else None
        super().__init__(stream)
        self.local, self.lock, self.connections = threading.local(), threading.Lock(), set()
        self.ranges = self.retries = 0

    def where(self, name, first, end):
        return f"{self.url}/{PACKS.as_posix()}/{name} bytes {first}-{end - 1}"

    def frames(self, name, size, chunks):
        """Yields (offset, frame bytes, where) of every chunk [(offset, stored)] of pack name
        (size bytes long, as the releases list it), range by range; ContentError naming the
        pack and range that could not be fetched. Nothing here is trusted: the caller checks
        each frame against the release."""
        for first, end, inside in ranges(chunks, self.gap):
            data = self.fetch(name, size, first, end)
            for offset, stored in inside:
                yield offset, data[offset - first:offset - first + stored], self.where(name, first, end)

    def fetch(self, name, size, first, end):
        """The bytes first to end - 1 of pack name, retried with a growing pause."""
        for attempt in range(ATTEMPTS):
            if attempt:
                with self.lock:
                    self.retries += 1
                time.sleep(BACKOFF_SECONDS * 2 ** (attempt - 1))
            data, why, again = self._attempt(name, size, first, end)
            if data is not None:
                self._count(len(data))
                return data
            if not again:
                break
        tries = f" ({attempt + 1} attempts)" if attempt else ""
        raise ContentError(f"{self.where(name, first, end)}: {why}{tries}")

    def _attempt(self, name, size, first, end):
        """(data, None, False) or (None, why, worth another try)."""
        connection = self._connection()
        try:
            connection.request("GET", f"{self.path}/{PACKS.as_posix()}/{name}",
                               headers={"Range": f"bytes={first}-{end - 1}", "Accept-Encoding": "identity"})
            response = connection.getresponse()
            if response.status != 206:
                self._drop()
                if response.status == 200:
                    return None, "the server answered the whole pack, not the range", False
                return None, f"status {response.status} {response.reason}", response.status in RETRIED_STATUS
            expected = f"bytes {first}-{end - 1}/{size}"
            answered = (response.getheader("Content-Range") or "").strip()
            if answered != expected:
                self._drop()
                return None, (f"the server answered {answered or 'no Content-Range'}, not {expected}: "
                              f"is the served pack the {size} bytes the releases list?"), False
            data = _read_exactly(response, end - first)
            if len(data) != end - first:
                self._drop()
                return None, f"the answer held {len(data)} bytes, not {end - first}", len(data) < end - first
            if response.will_close:
                self._drop()
            return data, None, False
        except ssl.SSLCertVerificationError as error:
            self._drop()
            return None, f"the server's certificate: {error.verify_message} (give --ca-file?)", False
        except (OSError, http.client.HTTPException) as error:
            self._drop()
            return None, f"{type(error).__name__}: {error}", True

    def _connection(self):
        connection = getattr(self.local, "connection", None)
        if connection is None:
            if self.context is not None:
                connection = http.client.HTTPSConnection(self.host, self.port, timeout=TIMEOUT_SECONDS,
                                                         context=self.context)
            else:
                connection = http.client.HTTPConnection(self.host, self.port, timeout=TIMEOUT_SECONDS)
            self.local.connection = connection
            with self.lock:
                self.connections.add(connection)
        return connection

    def _drop(self):
        """Closes this thread's connection: after a fault nothing more of it can be trusted."""
        connection = getattr(self.local, "connection", None)
        if connection is not None:
            self.local.connection = None
            with self.lock:
                self.connections.discard(connection)
            connection.close()

    def _count(self, size):
        with self.lock:
            self.ranges += 1
            self.bytes += size
            self.tick()

    def show(self, now):
        self.say(f"fetched {self.ranges} range(s), {self.bytes} bytes of earlier releases' packs from {self.url}, "
                 f"{self.rate(now):.1f} MiB/s")

    def close(self):
        """Ends every connection and, when anything was fetched, says how much."""
        with self.lock:
            connections, self.connections = self.connections, set()
            if self.ranges:
                self.show(time.monotonic())
                if self.retries:
                    self.say(f"{self.retries} range request(s) retried")
        for connection in connections:
            connection.close()
