#!/usr/bin/python3
"""Debian's nginx serving a patch folder over HTTPS from a configuration written into a work folder."""

import argparse
import grp
import json
import os
import pwd
import signal
import socket
import subprocess
import sys
import threading
import time
from urllib.parse import urlsplit

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import patch_server  # noqa: E402  (shares the test certificates, the TLS suites and the base path)

NGINX = "/usr/sbin/nginx"
DEFAULT_BASE = patch_server.DEFAULT_BASE
DEFAULT_EDGE = "/edge"
DEFAULT_LIFETIME = 900.0
START_TIMEOUT = 10.0
STOP_WAIT = 5.0

# One JSON object per request. Numbers are written bare (nginx always has one for them);
# connection and requests together tell which requests shared a kept-alive connection
# ($sent_http_connection would not: by the time the line is written it always says "close").
LOG_FORMAT = ('{"time":$msec,"method":"$request_method","uri":"$request_uri","status":$status,'
              '"bytes_sent":$bytes_sent,"body_bytes_sent":$body_bytes_sent,"range":"$http_range",'
              '"if_range":"$http_if_range","if_none_match":"$http_if_none_match",'
              '"agent":"$http_user_agent","connection":$connection,"requests":$connection_requests,'
              '"request_connection":"$http_connection","location":"$sent_http_location",'
              '"etag":"$sent_http_etag","accept_ranges":"$sent_http_accept_ranges",'
              '"tls":"$ssl_protocol $ssl_cipher","session_reused":"$ssl_session_reused",'
              '"request_time":$request_time}')

# Characters a path may not carry into the configuration: nginx would read them as syntax.
UNSAFE = set('"\\$;{}\'') | {chr(c) for c in range(32)} | {"\x7f"}


def _checked(text, what):
    if any(c in UNSAFE for c in text):
        raise ValueError(f"{what} {text!r} holds a character nginx's configuration cannot carry")
    return text


def _quoted(text, what):
    return '"' + _checked(text, what) + '"'


def _normalize_path(path):
    path = "/" + path.strip("/")
    return "" if path == "/" else path


def _listen_spec(address, port):
    return f"[{address}]:{port}" if ":" in address else f"{address}:{port}"


def _probe_address(address):
    # A wildcard listener answers on loopback.
    return {"0.0.0.0": "127.0.0.1", "::": "::1", "[::]": "::1"}.get(address, address.strip("[]"))


def follow_access_log(path, offset=0):
    """The entries from byte `offset` on, and the offset after the last whole line: a line nginx
    is still writing waits for the next call."""
    try:
        with open(path, "rb") as log:
            log.seek(offset)
            data = log.read()
    except FileNotFoundError:
        return [], offset
    whole = data[:data.rfind(b"\n") + 1]
    entries = []
    for line in whole.decode("utf-8", "replace").splitlines():
        try:
            entry = json.loads(line)
        except ValueError:
            continue
        # The same path and query keys as patch_server.py's log, so readers can take either.
        entry["path"], _, entry["query"] = entry["uri"].partition("?")
        entry["tls"] = entry["tls"].strip()  # "" for a request in the clear
        entries.append(entry)
    return entries, offset + len(whole)


def read_access_log(path, offset=0):
    """The access log's entries from byte `offset` on."""
    return follow_access_log(path, offset)[0]


def kernel_tls():
    """Whether this kernel offers TLS in the kernel, without which sendfile cannot carry HTTPS."""
    try:
        with open("/proc/sys/net/ipv4/tcp_available_ulp") as f:
            return "tls" in f.read().split()
    except OSError:
        return False


class NginxServer:
    """nginx serving `root` under `base` on `listen:port` with the test certificates of `certs`.

    `redirects` are paths below the base that answer 302 to the same path below `edge` (a path,
    or an address whose path this nginx serves), which serves the same folder, as a CDN sends
    clients on to an edge host. `netns` runs nginx in that network namespace. `limit_rate`
    (bytes per second and connection, 0 for none) paces the answers. `lifetime` bounds nginx's
    run even when its owner dies. `plain_port` also serves everything over plain HTTP there,
    e.g. as an edge that a redirect sends clients to in the clear. `unranged` are folders below the
    base whose files are served with `max_ranges 0`: a Range header is ignored and answered 200
    with the whole file, as by a server or cache that does not do ranges."""

    def __init__(self, root, port, certs, work, base=DEFAULT_BASE, listen="127.0.0.1", netns=None,
                 redirects=(), edge=DEFAULT_EDGE, cert="good", limit_rate=0, plain_port=None,
                 lifetime=DEFAULT_LIFETIME, unranged=()):
        self.root = os.path.realpath(root)
        self.port = int(port)
        self.certs = os.path.abspath(certs)
        self.work = os.path.abspath(work)
        self.base = _normalize_path(base)
        self.listen = listen
        self.netns = netns
        self.redirects = [_checked(r.strip("/"), "redirect path") for r in redirects]
        self.unranged = [_checked(u.strip("/"), "unranged folder") for u in unranged]
        # An edge given as a whole address sends clients to that host (which must reach this
        # nginx too, e.g. localhost for 127.0.0.1); a path keeps them on the host they asked.
        parts = urlsplit(edge)
        self.edge = _normalize_path(parts.path)
        if not self.edge:
            raise ValueError("the edge location needs a path of its own")
        self.edge_prefix = _checked(f"{parts.scheme}://{parts.netloc}{self.edge}" if parts.netloc else self.edge,
                                    "edge")
        self.cert = cert
        self.limit_rate = int(limit_rate)
        self.plain_port = int(plain_port) if plain_port else None
        self.ktls = kernel_tls()
        self.lifetime = lifetime
        self.config_path = os.path.join(self.work, "nginx.conf")
        self.access_log = os.path.join(self.work, "access.log")
        self.error_log = os.path.join(self.work, "error.log")
        self.pid_file = os.path.join(self.work, "nginx.pid")
        self.process = None
        self._output = None

    # -- configuration

    def url(self, rel=""):
        host = f"[{self.listen}]" if ":" in self.listen else self.listen
        return f"https://{host}:{self.port}{self.base}/{rel.lstrip('/')}"

    def config_text(self):
        stem = os.path.join(self.certs, patch_server.SERVER_CERTS[self.cert])
        temp = os.path.join(self.work, "temp")
        user = ""
        if os.geteuid() == 0:
            # Workers drop to this user; the caller's own can read what the caller wrote.
            user = f"user {pwd.getpwuid(os.geteuid()).pw_name} {grp.getgrgid(os.getegid()).gr_name};\n"
        temps = "".join(f"    {kind}_temp_path {_quoted(os.path.join(temp, kind), 'work folder')};\n"
                        for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        # Over TLS nginx can hand files to sendfile only when the kernel encrypts.
        ktls = "    ssl_conf_command Options KTLS;\n" if self.ktls else ""
        rate = f"    limit_rate {self.limit_rate};\n" if self.limit_rate else ""
        # The same files in the clear, for an edge that a redirect leaves HTTPS for.
        plain = f"        listen {_listen_spec(self.listen, self.plain_port)};\n" if self.plain_port else ""
        return f"""\
# Written by nginx_server.py; nginx -p {self.work} -c {self.config_path}
{user}worker_processes 1;
daemon off;
master_process on;
pid {_quoted(self.pid_file, 'work folder')};
error_log {_quoted(self.error_log, 'work folder')} info;

events {{
    worker_connections 256;
}}

http {{
    types {{
        text/plain txt;
        application/zip zip;
    }}
    default_type application/octet-stream;
    log_format launcher escape=json '{LOG_FORMAT}';
    access_log {_quoted(self.access_log, 'work folder')} launcher;
{temps}
    sendfile on;
    tcp_nopush on;
    keepalive_timeout 30s;
    keepalive_requests 1000;
    server_tokens off;
{rate}
    ssl_protocols TLSv1.2 TLSv1.3;
    ssl_ciphers {patch_server.TLS12_CIPHERS};
    ssl_prefer_server_ciphers on;
    ssl_session_cache shared:launcher_tls:1m;
    ssl_session_timeout 10m;
{ktls}
    server {{
        listen {_listen_spec(self.listen, self.port)} ssl;
{plain}        server_name _;
        ssl_certificate {_quoted(stem + '.pem', 'certificate')};
        ssl_certificate_key {_quoted(stem + '.key', 'certificate key')};

{self._locations()}
        location / {{
            return 404;
        }}
    }}
}}
"""

    def _locations(self):
        root = _quoted(self.root + "/", "patch folder")
        blocks = [f"        location {_quoted(self.base + '/', 'base')} {{\n            alias {root};\n        }}\n",
                  f"        location {_quoted(self.edge + '/', 'edge')} {{\n            alias {root};\n        }}\n"]
        for rel in self.redirects:
            source = _quoted(f"{self.base}/{rel}", "redirect path")
            target = _quoted(f"{self.edge_prefix}/{rel}", "redirect path")
            blocks.append(f"        location = {source} {{\n            return 302 {target[:-1]}$is_args$args\";\n"
                          "        }\n")
        for rel in self.unranged:
            folder = _quoted(f"{self.base}/{rel}/", "unranged folder")
            blocks.append(f"        location {folder} {{\n            alias {_quoted(f'{self.root}/{rel}/', 'patch folder')};\n"
                          "            max_ranges 0;\n        }\n")
        return "".join(blocks)

    def write_config(self):
        for folder in (self.work, *(os.path.join(self.work, "temp", k)
                                    for k in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))):
            os.makedirs(folder, exist_ok=True)
        with open(self.config_path, "w", encoding="utf-8") as out:
            out.write(self.config_text())
        return self.config_path

    # -- running

    def command(self):
        nginx = [NGINX, "-p", self.work + "/", "-c", self.config_path, "-e", self.error_log]
        if self.lifetime:
            # timeout(1) passes QUIT and TERM on to nginx and ends it when the lifetime is over.
            nginx = ["timeout", "-k", "5", str(self.lifetime)] + nginx
        return (["ip", "netns", "exec", self.netns] if self.netns else []) + nginx

    def start(self, timeout=START_TIMEOUT):
        if self.process is not None:
            return self
        self.write_config()
        for stale in (self.pid_file,):
            if os.path.exists(stale):
                os.unlink(stale)
        self._output = open(os.path.join(self.work, "nginx.out"), "w")
        self.process = subprocess.Popen(self.command(), stdin=subprocess.DEVNULL, stdout=self._output,
                                        stderr=subprocess.STDOUT, start_new_session=True)
        deadline = time.monotonic() + timeout
        while not self._answers():
            if self.process.poll() is not None or time.monotonic() > deadline:
                why = "exited" if self.process.poll() is not None else f"did not answer within {timeout} s"
                self.stop()
                raise RuntimeError(f"nginx {why} on {self.listen}:{self.port}:\n{self.errors()}")
            time.sleep(0.05)
        return self

    def _answers(self):
        # nginx writes its pid file once its sockets listen; the connect proves the port is ours.
        if not os.path.exists(self.pid_file):
            return False
        address = _probe_address(self.listen)
        if self.netns:
            probe = f"import socket; socket.create_connection(({address!r}, {self.port}), 1).close()"
            return subprocess.run(["timeout", "5", "ip", "netns", "exec", self.netns, "/usr/bin/python3", "-c", probe],
                                  capture_output=True, timeout=10).returncode == 0
        try:
            socket.create_connection((address, self.port), 1).close()
            return True
        except OSError:
            return False

    def stop(self):
        """Ends nginx by its pid: QUIT (finish the answers under way), then TERM, then KILL."""
        process, self.process = self.process, None
        if process is not None:
            for how in (signal.SIGQUIT, signal.SIGTERM):
                if process.poll() is not None:
                    break
                try:
                    process.send_signal(how)
                    process.wait(STOP_WAIT)
                except subprocess.TimeoutExpired:
                    continue
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGKILL)  # nginx's workers share the group
                except ProcessLookupError:
                    pass
                process.wait(STOP_WAIT)
        if self._output is not None:
            self._output.close()
            self._output = None

    def running(self):
        return self.process is not None and self.process.poll() is None

    def master_pid(self):
        try:
            with open(self.pid_file) as f:
                return int(f.read().strip())
        except (OSError, ValueError):
            return None

    def entries(self, offset=0):
        return read_access_log(self.access_log, offset)

    def log_mark(self):
        """A place in the access log; entries(mark) are the requests logged after it."""
        try:
            return os.path.getsize(self.access_log)
        except OSError:
            return 0

    def errors(self):
        texts = []
        for path in (os.path.join(self.work, "nginx.out"), self.error_log):
            try:
                with open(path, encoding="utf-8", errors="replace") as f:
                    texts.append(f.read()[-4000:])
            except OSError:
                pass
        return "\n".join(t for t in texts if t)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


# ---------------------------------------------------------------- command line

def parser():
    p = argparse.ArgumentParser(prog="nginx_server.py",
                                description="Serve a patch folder with nginx over HTTPS until SIGTERM.")
    p.add_argument("--root", required=True, help="patch folder")
    p.add_argument("--port", type=int, required=True, help="TCP port")
    p.add_argument("--certs", required=True, help="certificate directory (made with make-certs when incomplete)")
    p.add_argument("--work", required=True, help="folder for the configuration, logs and pid file")
    p.add_argument("--base", default=DEFAULT_BASE, help=f"URL path mapped onto --root (default {DEFAULT_BASE})")
    p.add_argument("--listen", default="127.0.0.1", help="listen address (default 127.0.0.1)")
    p.add_argument("--netns", help="network namespace to run nginx in")
    p.add_argument("--redirect", action="append", default=[], metavar="PATH",
                   help="path below the base answered with 302 to the edge; repeatable")
    p.add_argument("--edge", default=DEFAULT_EDGE,
                   help="edge location serving the same folder: a path or https://HOST:PORT/PATH "
                        f"(default {DEFAULT_EDGE})")
    p.add_argument("--cert", choices=sorted(patch_server.SERVER_CERTS), default="good")
    p.add_argument("--plain-port", type=int, help="also serve everything over plain HTTP on this port")
    p.add_argument("--unranged", action="append", default=[], metavar="FOLDER",
                   help="folder below the base whose files ignore Range (answered 200, whole); repeatable")
    p.add_argument("--limit-rate", type=int, default=0, metavar="BYTES_PER_SEC",
                   help="pace each connection's answers (default 0: as fast as it goes)")
    p.add_argument("--ready-file", help='write {"port": N, "pid": P} here once nginx answers')
    p.add_argument("--lifetime", type=float, default=DEFAULT_LIFETIME,
                   help=f"stop after this many seconds (default {DEFAULT_LIFETIME:g})")
    return p


def main(argv):
    args = parser().parse_args(argv)
    if not os.path.isdir(args.root):
        parser().error(f"--root {args.root} is not a directory")
    if args.lifetime <= 0:
        parser().error("--lifetime must be positive")
    patch_server.make_certs(args.certs)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    server = NginxServer(args.root, args.port, args.certs, args.work, base=args.base, listen=args.listen,
                         netns=args.netns, redirects=args.redirect, edge=args.edge, cert=args.cert,
                         limit_rate=args.limit_rate, plain_port=args.plain_port,
                         lifetime=args.lifetime + 10, unranged=args.unranged)
    try:
        server.start()
    except (RuntimeError, ValueError) as error:
        print(f"nginx_server: {error}", file=sys.stderr)
        return 1
    try:
        print(f"nginx_server: listening on {server.url()} (nginx pid {server.master_pid()})", flush=True)
        if args.ready_file:
            patch_server._write_ready(args.ready_file, args.port)
        ends = time.monotonic() + args.lifetime
        while not stop.wait(0.2) and time.monotonic() < ends and server.running():
            pass
        return 0 if server.running() else 1
    finally:
        server.stop()
        if args.ready_file and os.path.exists(args.ready_file):
            os.unlink(args.ready_file)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
