#!/usr/bin/python3
"""Test patch host: an HTTPS file server with injectable faults, its test certificates and a free-port helper."""

import argparse
import fcntl
import fnmatch
import json
import os
import signal
import socket
import socketserver
import ssl
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
from email.utils import formatdate
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import unquote_to_bytes, urlsplit

REPO_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DEFAULT_CERTS = os.path.join(REPO_ROOT, "build", "test-certs")
DEFAULT_BASE = "/Setup/live/StandaloneWindows64"
CONTROL_PREFIX = "/__control/"

SERVER_CERTS = {
    "good": "server-good",
    "expired": "server-expired",
    "wrong-host": "server-wronghost",
    "untrusted": "server-untrusted",
}
CERT_OUTPUTS = ["ca.pem", "ca.key", "ca.der", "other-ca.pem", "other-ca.key"] + [
    stem + ext for stem in SERVER_CERTS.values() for ext in (".pem", ".key")]

# Wine's schannel (GnuTLS) speaks TLS 1.2 with ECDHE-RSA; GCM first, CBC kept for older stacks.
TLS12_CIPHERS = ":".join([
    "ECDHE-RSA-AES128-GCM-SHA256", "ECDHE-RSA-AES256-GCM-SHA384", "ECDHE-RSA-CHACHA20-POLY1305",
    "ECDHE-RSA-AES128-SHA256", "ECDHE-RSA-AES256-SHA384", "ECDHE-RSA-AES128-SHA",
    "ECDHE-RSA-AES256-SHA", "AES128-GCM-SHA256", "AES256-GCM-SHA384"])

MAX_DELAY = 60.0
MAX_REQUEST_BODY = 16 * 1024 * 1024
CHUNK = 64 * 1024
TRICKLE_GAP = 2.0  # seconds between the pieces of a trickle: answer


# ---------------------------------------------------------------- fault rules

class Rule:
    """One PATTERN=KIND[:ARG][@COUNT] rule; COUNT limits how many requests it answers."""

    KINDS = {"status", "nolength", "chunked", "short", "reset", "slow", "trickle", "delay", "long", "norange",
             "redirect"}
    ON_HEAD = {"status", "redirect"}  # the kinds that answer a HEAD as well
    OPTIONAL_ARG = {"nolength", "chunked", "norange"}  # without N the whole body; norange:S below

    def __init__(self, text):
        self.text = text
        pattern, eq, action = text.rpartition("=")
        if not eq or not pattern:
            raise ValueError(f"fault rule {text!r}: expected PATTERN=KIND[:ARG][@COUNT]")
        action, at, count = action.partition("@")
        kind, colon, arg = action.partition(":")
        if kind not in self.KINDS:
            raise ValueError(f"fault rule {text!r}: unknown kind {kind!r}")
        self.pattern = pattern.lstrip("/")
        self.kind = kind
        self.remaining = None
        if at:
            self.remaining = _number(text, count, int, 1)
        if kind in self.OPTIONAL_ARG and not colon:
            self.arg = None
        elif not colon:
            raise ValueError(f"fault rule {text!r}: {kind} needs an argument")
        elif kind == "status":
            self.arg = _number(text, arg, int, 200, 599)
        elif kind == "redirect":
            # The whole rest is the address; a "=" or "@" in it would be read as the rule's own.
            if not arg.lower().startswith(("http://", "https://")):
                raise ValueError(f"fault rule {text!r}: redirect needs an http:// or https:// address")
            self.arg = arg  # a 1xx is never a final answer
        elif kind in ("slow", "trickle"):
            self.arg = _number(text, arg, int, 1)
        elif kind in ("delay", "norange"):
            # norange:S answers a range from byte 0 S seconds late, so that a later piece's whole
            # answer comes first, as it may on a busy link.
            self.arg = _number(text, arg, float, 0.0, MAX_DELAY)
        else:
            self.arg = _number(text, arg, int, 0)

    def describe(self):
        return {"rule": self.text, "remaining": self.remaining}


def _number(text, value, kind, low, high=None):
    try:
        number = kind(value)
    except ValueError:
        raise ValueError(f"fault rule {text!r}: {value!r} is not a number") from None
    if number < low or (high is not None and number > high):
        bound = f"{low}..{high}" if high is not None else f">= {low}"
        raise ValueError(f"fault rule {text!r}: {value} is outside {bound}")
    return number


class Faults:
    def __init__(self, rules=()):
        self.lock = threading.Lock()
        self.rules = list(rules)

    def replace(self, rules):
        with self.lock:
            self.rules = list(rules)

    def describe(self):
        with self.lock:
            return [r.describe() for r in self.rules]

    def take(self, rel, method):
        with self.lock:
            for rule in self.rules:
                if rule.remaining == 0 or not fnmatch.fnmatchcase(rel, rule.pattern):
                    continue
                # The first live match decides; on HEAD only a status or redirect rule changes the answer.
                if method == "HEAD" and rule.kind not in Rule.ON_HEAD:
                    return None
                if rule.remaining is not None:
                    rule.remaining -= 1
                return rule
            return None


# ---------------------------------------------------------------- request log

class RequestLog:
    def __init__(self, path):
        self.lock = threading.Condition()
        self.entries = []
        self.file = open(path, "a", encoding="utf-8") if path else None

    def add(self, entry):
        line = json.dumps(entry, sort_keys=True)
        with self.lock:
            self.entries.append(entry)
            if self.file:
                self.file.write(line + "\n")
                self.file.flush()
            self.lock.notify_all()

    def snapshot(self, at_least=0, timeout=5.0):
        # A line lands just after the answer's last byte, so a client may ask before it is there.
        with self.lock:
            self.lock.wait_for(lambda: len(self.entries) >= at_least, timeout)
            return list(self.entries)

    def clear(self):
        with self.lock:
            self.entries.clear()


# ---------------------------------------------------------------- HTTP handling

class Abort(Exception):
    """The connection is finished on purpose (fault or shutdown); nothing more may be sent."""


class PatchHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QorPatchServer/1"
    sys_version = ""
    timeout = 30  # idle keep-alive connections must not pin threads forever

    def version_string(self):
        return self.server_version

    def log_message(self, format, *args):
        pass  # the JSON request log replaces the default stderr lines

    def send_response(self, code, message=None):
        self.status = code
        self.connection_header_sent = False
        super().send_response(code, message)

    def send_header(self, keyword, value):
        if keyword.lower() == "connection":
            self.connection_header_sent = True
        super().send_header(keyword, value)

    def end_headers(self):
        if getattr(self, "connection_header_sent", False):
            pass
        elif self.close_connection:
            self.send_header("Connection", "close")
        elif self.request_version == "HTTP/1.0":
            self.send_header("Connection", "keep-alive")
        super().end_headers()

    # -- dispatch

    def do_GET(self):
        self._request(head=False)

    def do_HEAD(self):
        self._request(head=True)

    def do_POST(self):
        self._request(head=False)

    def do_DELETE(self):
        self._request(head=False)

    do_PUT = do_PATCH = do_OPTIONS = do_POST

    def _request(self, head):
        self.status = None
        self.bytes_sent = 0
        self.rule = None
        self.body = None
        self.started = time.time()
        cipher = self.connection.cipher()
        self.tls = f"{self.connection.version()} {cipher[0]}" if cipher else None
        raw = self.path
        if raw.startswith(("http://", "https://")):
            parts = urlsplit(raw)
            raw = parts.path + ("?" + parts.query if parts.query else "")
        raw = raw.partition("#")[0]
        self.req_path, _, self.req_query = raw.partition("?")
        try:
            self.body = self._read_body()
        except Abort:
            return self._log()
        if self.server.control and self.req_path.startswith(CONTROL_PREFIX):
            return self._guard(self._control)
        self._guard(lambda: self._patch(head))
        self._log()

    def _guard(self, action):
        try:
            action()
        except (Abort, OSError):  # OSError: the client went away mid-answer
            self.close_connection = True

    def _log(self):
        headers = {}
        for name, value in self.headers.items():
            headers[name] = headers[name] + ", " + value if name in headers else value
        self.server.log.add({
            "method": self.command,
            "path": self.req_path,
            "query": self.req_query,
            "agent": self.headers.get("User-Agent"),
            "headers": headers,
            "body_length": len(self.body) if self.body is not None else 0,
            "status": self.status,
            "bytes_sent": self.bytes_sent,
            "fault": self.rule.text if self.rule else None,
            "tls": self.tls,
            "time": round(self.started, 3),
            "duration": round(time.time() - self.started, 3),
            "peer_port": self.client_address[1],
        })

    def _read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            body = bytearray()
            while True:
                try:
                    size = int(self.rfile.readline(1024).split(b";")[0].strip() or b"0", 16)
                except ValueError:
                    self._simple(400, "bad chunked body\n", close=True)
                    raise Abort() from None
                if size == 0:
                    while self.rfile.readline(1024).strip():
                        pass  # trailers carry nothing this server uses
                    return bytes(body)
                if len(body) + size > MAX_REQUEST_BODY:
                    self._simple(413, "request body too large\n", close=True)
                    raise Abort()
                body += self.rfile.read(size)
                self.rfile.readline(1024)
        try:
            length = int(self.headers.get("Content-Length", "0"))
        except ValueError:
            length = -1
        if length < 0 or length > MAX_REQUEST_BODY:
            self._simple(413 if length > 0 else 400, "bad request body\n", close=True)
            raise Abort()
        return self.rfile.read(length) if length else b""

    # -- plain answers

    def _simple(self, code, text, head=False, content_type="text/plain; charset=utf-8", close=False):
        body = text.encode("utf-8")
        if close:
            self.close_connection = True
        self.send_response(code)
        if code not in (204, 304) and code >= 200:
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if not head and code not in (204, 304) and code >= 200:
            self.wfile.write(body)
            self.bytes_sent = len(body)

    def _redirect(self, location, head):
        body = f"moved to {location}\n".encode("utf-8")
        self.send_response(302)
        self.send_header("Location", location)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if not head:
            self.wfile.write(body)
            self.bytes_sent = len(body)

    def _json(self, code, value):
        self._simple(code, json.dumps(value) + "\n", content_type="application/json")

    # -- control endpoints

    def _control(self):
        what = self.req_path[len(CONTROL_PREFIX):]
        server = self.server
        if what == "faults" and self.command == "GET":
            return self._json(200, server.faults.describe())
        if what == "faults" and self.command == "POST":
            try:
                texts = json.loads(self.body.decode("utf-8") or "[]")
                if not isinstance(texts, list) or not all(isinstance(t, str) for t in texts):
                    raise ValueError("body must be a JSON list of rule strings")
                rules = [Rule(t) for t in texts]
            except ValueError as error:
                return self._json(400, {"error": str(error)})
            server.faults.replace(rules)
            return self._json(200, server.faults.describe())
        if what == "faults" and self.command == "DELETE":
            server.faults.replace([])
            return self._json(200, [])
        if what == "log" and self.command == "GET":
            wanted = dict(p.partition("=")[::2] for p in self.req_query.split("&") if p)
            try:
                at_least = int(wanted.get("count", "0"))
            except ValueError:
                return self._json(400, {"error": "count must be a number"})
            return self._json(200, server.log.snapshot(at_least))
        if what == "log" and self.command == "DELETE":
            server.log.clear()
            return self._json(200, [])
        if what in ("faults", "log"):
            return self._simple(405, "method not allowed\n")
        return self._simple(404, "not found\n")

    # -- patch files

    def _relative(self):
        """The request path below the base as bytes, or None when it is outside it or unsafe."""
        base = self.server.base
        if not self.req_path.startswith(base + "/"):
            return None
        # The request line arrives as latin-1 text; go back to its bytes so UTF-8 names survive.
        rel = unquote_to_bytes(self.req_path[len(base) + 1:].encode("latin-1", "replace"))
        parts = rel.split(b"/")
        if any(p in (b"", b".", b"..") or b"\\" in p or b"\0" in p for p in parts):
            return None
        return rel

    def _open(self, rel):
        root = self.server.root
        full = os.path.realpath(os.path.join(root, rel))
        if not full.startswith(root + b"/") or not os.path.isfile(full):
            return None
        try:
            return open(full, "rb")
        except OSError:
            return None

    def _patch(self, head):
        if self.command not in ("GET", "HEAD"):
            self.send_response(405)
            self.send_header("Allow", "GET, HEAD")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        rel = self._relative()
        if rel is None:
            return self._simple(404, "not found\n", head)
        rule = self.rule = self.server.faults.take(rel.decode("utf-8", "replace"), self.command)
        if rule and rule.kind == "status":
            return self._simple(rule.arg, f"error {rule.arg}\n", head)
        if rule and rule.kind == "redirect":
            return self._redirect(rule.arg, head)
        if rule and rule.kind == "delay":
            self._wait(rule.arg)
        if rule and rule.kind == "norange" and rule.arg and _range_start(self.headers.get("Range")) == 0:
            self._wait(rule.arg)
        f = self._open(rel)
        if f is None:
            return self._simple(404, "not found\n", head)
        with f:
            self._send_file(f, rel, head, rule)

    def _send_file(self, f, rel, head, rule):
        st = os.fstat(f.fileno())
        size = st.st_size
        modified = formatdate(st.st_mtime, usegmt=True)
        etag = f'"{st.st_mtime_ns:x}-{size:x}"'
        start, length, code = 0, size, 200
        wanted = self.headers.get("Range")
        if_range = self.headers.get("If-Range")
        kind = rule.kind if rule else None
        if wanted and kind != "norange" and (if_range is None or if_range in (etag, modified)):
            parsed = _parse_range(wanted, size)
            if parsed == "unsatisfiable":
                self.send_response(416)
                self.send_header("Content-Range", f"bytes */{size}")
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            if parsed:
                start, length, code = parsed[0], parsed[1], 206
        if kind in ("nolength", "chunked"):
            self.close_connection = True
        self.send_response(code)
        self.send_header("Content-Type", "text/plain" if rel.endswith(b".txt") else "application/octet-stream")
        if kind == "chunked":
            self.send_header("Transfer-Encoding", "chunked")
        elif kind != "nolength":
            self.send_header("Content-Length", str(length))
        if code == 206:
            self.send_header("Content-Range", f"bytes {start}-{start + length - 1}/{size}")
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Last-Modified", modified)
        self.send_header("ETag", etag)
        self.end_headers()
        if head:
            return
        f.seek(start)
        if kind == "chunked":
            return self._copy_chunked(f, length if rule.arg is None else min(rule.arg, length), rule.arg is None)
        if kind == "nolength" and rule.arg is not None:
            self._copy(f, min(rule.arg, length))
            raise Abort()
        if kind in ("short", "reset"):
            self._copy(f, min(rule.arg, length))
            if kind == "reset":
                self._reset()
            raise Abort()
        if kind == "slow":
            self._copy_slowly(f, length, rule.arg)
            return
        if kind == "trickle":
            self._trickle(f, length, rule.arg)
            return
        self._copy(f, length)
        if kind == "long":
            filler = b"EXTRA-BYTES-PAST-CONTENT-LENGTH\n"
            extra = (filler * (rule.arg // len(filler) + 1))[:rule.arg]
            self.wfile.write(extra)
            self.bytes_sent += len(extra)
            raise Abort()

    def _copy(self, f, count):
        while count > 0:
            data = f.read(min(CHUNK, count))
            if not data:
                raise Abort()  # the file shrank under us; the announced length cannot be kept
            self.wfile.write(data)
            self.bytes_sent += len(data)
            count -= len(data)

    def _copy_chunked(self, f, count, whole):
        while count > 0:
            data = f.read(min(CHUNK // 4, count))
            if not data:
                raise Abort()
            self.wfile.write(b"%x\r\n%s\r\n" % (len(data), data))
            self.bytes_sent += len(data)
            count -= len(data)
        if not whole:
            raise Abort()  # no last chunk: the body ends without its terminator
        self.wfile.write(b"0\r\n\r\n")

    def _copy_slowly(self, f, count, rate):
        piece = max(1, min(rate // 10, CHUNK))
        began = time.monotonic()
        deadline = began + self.server.slow_limit
        sent = 0
        while sent < count:
            data = f.read(min(piece, count - sent))
            if not data:
                raise Abort()
            due = began + (sent + len(data)) / rate
            if due > deadline:
                self._wait(deadline - time.monotonic())
                raise Abort()
            self._wait(due - time.monotonic())
            self.wfile.write(data)
            sent += len(data)
            self.bytes_sent += len(data)

    def _trickle(self, f, count, piece):
        # A few bytes at once, then a pause far shorter than any receive time-out: a connection
        # that is alive and never idle long, yet too slow to be worth waiting for.
        deadline = time.monotonic() + self.server.slow_limit
        sent = 0
        while sent < count:
            data = f.read(min(piece, count - sent))
            if not data:
                raise Abort()
            self.wfile.write(data)
            self.wfile.flush()
            sent += len(data)
            self.bytes_sent += len(data)
            if sent < count:
                if time.monotonic() + TRICKLE_GAP > deadline:
                    self._wait(deadline - time.monotonic())
                    raise Abort()
                self._wait(TRICKLE_GAP)

    def _wait(self, seconds):
        if seconds > 0 and self.server.stopping.wait(seconds):
            raise Abort()

    def _reset(self):
        sock = self.connection
        # RST throws away unsent data, so let the peer acknowledge what was written first.
        deadline = time.monotonic() + 2.0
        while time.monotonic() < deadline:
            pending = struct.unpack("i", fcntl.ioctl(sock.fileno(), termios.TIOCOUTQ, b"\0" * 4))[0]
            if pending == 0:
                break
            time.sleep(0.01)
        # The peer's system drops what its program has not read yet when the RST arrives; a
        # moment lets the client take the answer's head, so the reset falls inside the body.
        self.server.stopping.wait(0.3)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.rfile.close()  # drops the makefile reference so close() really closes the descriptor
        sock.close()


def _range_start(value):
    parsed = _parse_range(value or "", 1 << 62)
    return parsed[0] if isinstance(parsed, tuple) else None


def _parse_range(value, size):
    """(start, length) for a single byte range, None to ignore the header, or 'unsatisfiable'."""
    unit, _, ranges = value.partition("=")
    if unit.strip().lower() != "bytes" or "," in ranges:
        return None
    first, dash, last = ranges.strip().partition("-")
    if not dash:
        return None
    try:
        if first == "":
            tail = int(last)
            if tail <= 0:
                return "unsatisfiable"
            start, end = max(0, size - tail), size - 1
        else:
            start = int(first)
            end = int(last) if last else size - 1
    except ValueError:
        return None
    if start >= size:
        return "unsatisfiable"
    if start < 0 or end < start:
        return None
    end = min(end, size - 1)
    return start, end - start + 1


class PatchServer(ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False

    def __init__(self, port, context, root, base, faults, log, control, slow_limit):
        self.ssl_context = context
        self.root = os.fsencode(root)
        self.base = base
        self.faults = faults
        self.log = log
        self.control = control
        self.slow_limit = slow_limit
        self.stopping = threading.Event()
        super().__init__(("127.0.0.1", port), PatchHandler)

    def server_bind(self):
        # HTTPServer.server_bind does a reverse DNS lookup; nothing here needs it.
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]

    def finish_request(self, request, client_address):
        # The handshake runs in the connection's own thread so one stalled client cannot block accept().
        request.settimeout(10)
        try:
            tls = self.ssl_context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError) as error:
            print(f"patch_server: TLS handshake with {client_address[0]}:{client_address[1]} failed: {error}",
                  file=sys.stderr, flush=True)
            return
        try:
            self.RequestHandlerClass(tls, client_address, self)
        finally:
            _close_tls(tls)

    def handle_error(self, request, client_address):
        error = sys.exc_info()[1]
        if not isinstance(error, (ConnectionError, TimeoutError, ssl.SSLError)):
            super().handle_error(request, client_address)


def _close_tls(tls):
    if tls.fileno() == -1:
        return  # already reset on purpose
    try:
        # Non-blocking so close_notify goes out without waiting for the peer's own.
        tls.settimeout(0.0)
        tls.unwrap()
    except (ssl.SSLError, OSError, ValueError):
        pass
    try:
        tls.shutdown(socket.SHUT_WR)
    except OSError:
        pass
    tls.close()


# ---------------------------------------------------------------- certificates

CA_CONFIG = """\
[ ca ]
default_ca = test_ca
[ test_ca ]
database = {db}/index.txt
new_certs_dir = {db}
serial = {db}/serial
default_md = sha256
policy = policy_loose
unique_subject = no
copy_extensions = none
email_in_dn = no
[ policy_loose ]
commonName = supplied
organizationName = optional
[ ext_ca ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
[ ext_local ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
# DNS:127.0.0.1 as well as IP: some SSL policy checks compare the host only with DNS names.
subjectAltName = IP:127.0.0.1, DNS:localhost, DNS:127.0.0.1
[ ext_wronghost ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = DNS:wrong.example.invalid
"""

# Fixed dates keep every run's certificates alike; the good ones stay clear of 2038.
VALID_FROM, VALID_UNTIL = "20190101000000Z", "20371231000000Z"
EXPIRED_FROM, EXPIRED_UNTIL = "20200101000000Z", "20210101000000Z"


def certs_complete(directory):
    if not all(os.path.isfile(os.path.join(directory, name)) for name in CERT_OUTPUTS):
        return False
    check = subprocess.run(["openssl", "x509", "-checkend", str(30 * 86400), "-noout",
                            "-in", os.path.join(directory, "server-good.pem")],
                           capture_output=True, timeout=30)
    return check.returncode == 0


def make_certs(directory):
    """Creates the certificate set unless it is already there; returns True when it made it."""
    directory = os.path.abspath(directory)
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, ".lock"), "a") as lock:
        # Parallel test runs share the directory; a mixed set would not verify.
        fcntl.flock(lock, fcntl.LOCK_EX)
        if certs_complete(directory):
            return False
        with tempfile.TemporaryDirectory(dir=directory, prefix=".make-") as work:
            _generate(work)
            for name in CERT_OUTPUTS:
                os.replace(os.path.join(work, name), os.path.join(directory, name))
        return True


def _generate(work):
    def openssl(*args):
        done = subprocess.run(["openssl", *args], cwd=work, capture_output=True, text=True, timeout=60)
        if done.returncode != 0:
            raise RuntimeError(f"openssl {' '.join(args)} failed:\n{done.stderr}")

    def key_and_csr(stem, subject):
        openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", stem + ".key")
        openssl("req", "-new", "-key", stem + ".key", "-subj", subject, "-out", stem + ".csr")

    def sign(ca, stem, extensions, start, end):
        issuer = ["-selfsign"] if ca == stem else ["-cert", ca + ".pem"]
        openssl("ca", "-batch", "-notext", "-rand_serial", "-preserveDN", "-config", ca + ".cnf",
                *issuer, "-keyfile", ca + ".key", "-in", stem + ".csr", "-out", stem + ".pem",
                "-extensions", extensions, "-startdate", start, "-enddate", end)

    for ca, name in (("ca", "QOR Test Root CA"), ("other-ca", "QOR Untrusted Test CA")):
        db = os.path.join(work, ca + "-db")
        os.mkdir(db)
        open(os.path.join(db, "index.txt"), "w").close()
        with open(os.path.join(db, "serial"), "w") as serial:
            serial.write(os.urandom(8).hex() + "\n")
        with open(os.path.join(work, ca + ".cnf"), "w") as cnf:
            cnf.write(CA_CONFIG.format(db=db))
        key_and_csr(ca, f"/O=QOR Test/CN={name}")
        sign(ca, ca, "ext_ca", VALID_FROM, VALID_UNTIL)
    openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der")

    key_and_csr("server-good", "/O=QOR Test/CN=127.0.0.1")
    sign("ca", "server-good", "ext_local", VALID_FROM, VALID_UNTIL)
    key_and_csr("server-expired", "/O=QOR Test/CN=127.0.0.1")
    sign("ca", "server-expired", "ext_local", EXPIRED_FROM, EXPIRED_UNTIL)
    key_and_csr("server-wronghost", "/O=QOR Test/CN=wrong.example.invalid")
    sign("ca", "server-wronghost", "ext_wronghost", VALID_FROM, VALID_UNTIL)
    key_and_csr("server-untrusted", "/O=QOR Test/CN=127.0.0.1")
    sign("other-ca", "server-untrusted", "ext_local", VALID_FROM, VALID_UNTIL)


def tls_context(certs, which):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.set_ciphers(TLS12_CIPHERS)
    context.options |= ssl.OP_CIPHER_SERVER_PREFERENCE | ssl.OP_NO_COMPRESSION
    stem = os.path.join(certs, SERVER_CERTS[which])
    context.load_cert_chain(stem + ".pem", stem + ".key")
    return context


# ---------------------------------------------------------------- command line

def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _normalize_base(base):
    base = "/" + base.strip("/")
    return "" if base == "/" else base


def _write_ready(path, port):
    directory = os.path.dirname(os.path.abspath(path))
    fd, temp = tempfile.mkstemp(dir=directory, prefix=".ready-")
    with os.fdopen(fd, "w") as out:
        json.dump({"port": port, "pid": os.getpid()}, out)
    os.replace(temp, path)


def serve_parser():
    parser = argparse.ArgumentParser(
        prog="patch_server.py",
        description="HTTPS test patch server on 127.0.0.1. Other forms: "
                    "'patch_server.py make-certs DIR', 'patch_server.py free-port'.")
    parser.add_argument("--root", required=True, help="patch folder: LauncherPatchInfo.txt and Player/")
    parser.add_argument("--port", type=int, default=0, help="TCP port; 0 picks a free one (default)")
    parser.add_argument("--base", default=DEFAULT_BASE, help=f"URL path mapped onto --root (default {DEFAULT_BASE})")
    parser.add_argument("--certs", default=None,
                        help="certificate directory, created with make-certs when incomplete "
                             f"(default $PATCH_SERVER_CERTS, else {DEFAULT_CERTS})")
    parser.add_argument("--cert", choices=sorted(SERVER_CERTS), default="good", help="server certificate to present")
    parser.add_argument("--log", help="append one JSON line per request to this file")
    parser.add_argument("--fault", action="append", default=[], type=_rule_arg, metavar="RULE",
                        help="PATTERN=KIND[:ARG][@COUNT]; repeatable, first live match wins")
    parser.add_argument("--control", action="store_true", help="enable the /__control/ endpoints")
    parser.add_argument("--ready-file", help='write {"port": N, "pid": P} here once listening')
    parser.add_argument("--slow-limit", type=float, default=120.0,
                        help="seconds after which a slow: or trickle: answer is cut off (default 120)")
    parser.add_argument("--lifetime", type=float, default=0.0,
                        help="exit by itself after this many seconds (default 0: run until signalled)")
    return parser


def _rule_arg(text):
    try:
        return Rule(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def serve(argv):
    parser = serve_parser()
    args = parser.parse_args(argv)
    if not os.path.isdir(args.root):
        parser.error(f"--root {args.root} is not a directory")
    if args.slow_limit <= 0:
        parser.error("--slow-limit must be positive")
    certs = args.certs or os.environ.get("PATCH_SERVER_CERTS") or DEFAULT_CERTS
    make_certs(certs)
    base = _normalize_base(args.base)
    server = PatchServer(args.port, tls_context(certs, args.cert), os.path.realpath(args.root), base,
                         Faults(args.fault), RequestLog(args.log), args.control, args.slow_limit)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
    thread.start()
    port = server.server_address[1]
    print(f"patch_server: listening on https://127.0.0.1:{port}{base}", flush=True)
    if args.ready_file:
        _write_ready(args.ready_file, port)
    ends = time.monotonic() + args.lifetime if args.lifetime > 0 else None
    while not stop.wait(0.1):
        if ends is not None and time.monotonic() >= ends:
            break
    server.stopping.set()
    server.shutdown()
    server.server_close()
    if args.ready_file:
        try:
            os.unlink(args.ready_file)
        except OSError:
            pass
    return 0


def main(argv):
    if argv[:1] == ["make-certs"]:
        if len(argv) != 2:
            print("usage: patch_server.py make-certs DIR", file=sys.stderr)
            return 2
        made = make_certs(argv[1])
        print(f"patch_server: certificates {'written to' if made else 'already in'} {argv[1]}")
        return 0
    if argv[:1] == ["free-port"]:
        print(free_port())
        return 0
    return serve(argv)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
