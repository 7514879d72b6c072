"""Tests of the test patch server: paths, keep-alive, request log, every fault kind, control, certificates."""

import http.client
import json
import os
import shutil
import signal
import socket
import ssl
import subprocess
import threading
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "patch_server.py")
BASE = "/Setup/live/StandaloneWindows64"
INFO = b"version=1.2.3\nfiles=2\n"
BLOB = bytes(range(256)) * 20  # 5120 bytes; any misplaced slice shows


def run_tool(*args, timeout=60):
    return subprocess.run(["timeout", "-k", "3", str(timeout), "/usr/bin/python3", SCRIPT, *args],
                          capture_output=True, text=True, timeout=timeout + 5)


class Server:
    def __init__(self, tmp, certs, root, args):
        self.certs, self.log_path, self.ready = certs, tmp / "requests.jsonl", tmp / "ready.json"
        self.stderr = open(tmp / "stderr.txt", "w+")
        self.proc = subprocess.Popen(
            ["timeout", "-k", "3", "60", "/usr/bin/python3", SCRIPT, "--root", str(root), "--port", "0",
             "--certs", str(certs), "--log", str(self.log_path), "--ready-file", str(self.ready), *args],
            stdout=subprocess.DEVNULL, stderr=self.stderr)
        deadline = time.monotonic() + 10
        while not self.ready.exists():
            if self.proc.poll() is not None or time.monotonic() > deadline:
                self.stop()
                pytest.fail("patch server did not start: " + (tmp / "stderr.txt").read_text())
            time.sleep(0.02)
        self.port = json.loads(self.ready.read_text())["port"]

    def stop(self):
        self.proc.terminate()  # timeout(1) passes it on to the server
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(5)
        self.stderr.close()

    def conn(self, context=None):
        return http.client.HTTPSConnection("127.0.0.1", self.port, context=context or trusting(self), timeout=10)

    def log(self, agent, count):
        """The logged requests of one user agent, once there are `count`: lines land after the answer."""
        deadline = time.monotonic() + 5
        while True:
            lines = self.log_path.read_text().splitlines() if self.log_path.exists() else []
            entries = [e for e in map(json.loads, lines) if e["agent"] == agent]
            if len(entries) >= count or time.monotonic() > deadline:
                return entries


def trusting(server, cafile="ca.pem"):
    return ssl.create_default_context(cafile=str(server.certs / cafile))


def handshake(server, host="127.0.0.1", context=None):
    sock = socket.create_connection(("127.0.0.1", server.port), 10)
    return (context or trusting(server)).wrap_socket(sock, server_hostname=host)


def fetch(conn, path, method="GET", headers=None, body=None):
    conn.request(method, path, body=body, headers=headers or {})
    response = conn.getresponse()
    return response, response.read()


def raw(server, target, extra=b""):
    """One GET read to the end of the connection: (status, headers, body, how it ended).

    TLS runs over memory buffers so the plain socket shows a TCP reset, which ssl sockets
    report as a mere EOF. The end is "close_notify", "fin" (EOF without it) or "reset"."""
    sock = socket.create_connection(("127.0.0.1", server.port), 10)
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = trusting(server).wrap_bio(incoming, outgoing, server_hostname="127.0.0.1")

    def exchange(step):
        while True:
            try:
                result = step()
                sock.sendall(outgoing.read())
                return result
            except ssl.SSLWantReadError:
                sock.sendall(outgoing.read())
                data = sock.recv(65536)
                if not data:
                    return "fin"
                incoming.write(data)

    exchange(tls.do_handshake)
    exchange(lambda: tls.write(b"GET " + target.encode() + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + b"\r\n"))
    data = b""
    try:
        while (chunk := exchange(lambda: tls.read(65536))) not in (b"", "fin"):
            data += chunk
        end = "fin" if chunk == "fin" else "close_notify"
    except ssl.SSLZeroReturnError:
        end = "close_notify"
    except ConnectionResetError:
        end = "reset"
    sock.close()
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    headers = {k.lower(): v.strip() for k, _, v in (line.partition(":") for line in lines[1:])}
    return int(lines[0].split()[1]), headers, body, end


@pytest.fixture(scope="session")
def certs(tmp_path_factory):
    directory = tmp_path_factory.mktemp("certs")
    assert "written" in run_tool("make-certs", str(directory)).stdout
    return directory


@pytest.fixture(scope="session")
def root(tmp_path_factory):
    top = tmp_path_factory.mktemp("site")
    (top / "secret.txt").write_text("outside the root")
    folder = top / "patch"
    (folder / "Player" / "sub" / "dir").mkdir(parents=True)
    (folder / "LauncherPatchInfo.txt").write_bytes(INFO)
    (folder / "Player" / "a.bin").write_bytes(BLOB)
    (folder / "Player" / "c.bin").write_bytes(BLOB)
    (folder / "Player" / "sub" / "dir" / "b.zip").write_bytes(BLOB[:1000])
    (folder / "Player" / "escape.txt").symlink_to(top / "secret.txt")
    return folder


@pytest.fixture(scope="session")
def launch(tmp_path_factory, certs, root):
    started = []

    def start(*args):
        started.append(Server(tmp_path_factory.mktemp("server"), certs, root, args))
        return started[-1]
    yield start
    for server in started:
        server.stop()


@pytest.fixture(scope="session")
def plain(launch):
    return launch()


@pytest.fixture(scope="session")
def ctl(launch):
    return launch("--control")  # each test sets its whole rule list first


class TestServing:
    def test_patch_info_any_tick_head_and_files_on_one_connection(self, plain):
        conn = plain.conn()
        response, body = fetch(conn, BASE + "/LauncherPatchInfo.txt?tick=1", "HEAD", {"User-Agent": "downslib"})
        assert response.status == 200 and body == b"" and response.getheader("Content-Length") == str(len(INFO))
        sock = conn.sock
        for target in ("/LauncherPatchInfo.txt?tick=1", "/LauncherPatchInfo.txt?tick=98765", "/LauncherPatchInfo.txt"):
            assert fetch(conn, BASE + target)[1] == INFO
        response, body = fetch(conn, BASE + "/Player/sub/dir/b.zip", headers={"User-Agent": "MS"})
        assert body == BLOB[:1000] and response.getheader("Content-Length") == "1000"
        assert conn.sock is sock, "keep-alive connection was not reused"

    @pytest.mark.parametrize("target", [
        "/LauncherPatchInfo.txt", "/Setup/live/Other/LauncherPatchInfo.txt", BASE, BASE + "/Player/missing.bin",
        BASE + "/../../secret.txt", BASE + "/Player/%2e%2e/%2E%2E/../secret.txt", BASE + "/Player/..%2f..%2fsecret.txt",
        BASE + "/Player/escape.txt", BASE + "/Player/sub", BASE + "/Player//a.bin", BASE + "/Player\\a.bin"])
    def test_outside_base_unsafe_or_missing_is_404_and_keeps_connection(self, plain, target):
        conn = plain.conn()
        response, body = fetch(conn, target)
        assert response.status == 404 and b"outside" not in body
        assert fetch(conn, BASE + "/Player/a.bin")[1] == BLOB

    def test_ranges_and_connection_close(self, plain):
        conn = plain.conn()
        response, body = fetch(conn, BASE + "/Player/a.bin", headers={"Range": "bytes=100-"})
        assert (response.status, body) == (206, BLOB[100:])
        assert response.getheader("Content-Range") == f"bytes 100-{len(BLOB) - 1}/{len(BLOB)}"
        assert fetch(conn, BASE + "/Player/a.bin", headers={"Range": "bytes=-10"})[1] == BLOB[-10:]
        assert fetch(conn, BASE + "/Player/a.bin", headers={"Range": "bytes=9999999-"})[0].status == 416
        status, headers, body, end = raw(plain, BASE + "/Player/a.bin", b"Connection: close\r\n")
        assert (status, headers["connection"], body, end) == (200, "close", BLOB, "close_notify")

    def test_log_lines_and_no_control_by_default(self, plain):
        conn = plain.conn()
        fetch(conn, BASE + "/LauncherPatchInfo.txt?tick=77", headers={"User-Agent": "log-test"})
        fetch(conn, BASE + "/Player/a.bin", "POST", {"User-Agent": "log-test"}, body=b"12345")
        info, post = plain.log("log-test", 2)
        assert (info["method"], info["query"], info["agent"], info["status"], info["bytes_sent"]) == \
            ("GET", "tick=77", "log-test", 200, len(INFO))
        assert info["path"] == BASE + "/LauncherPatchInfo.txt" and info["headers"]["User-Agent"] == "log-test"
        assert (post["method"], post["status"], post["body_length"]) == ("POST", 405, 5)
        assert isinstance(info["time"], float) and info["fault"] is None and info["tls"].startswith("TLSv1.")
        assert fetch(plain.conn(), "/__control/faults")[0].status == 404


def set_faults(server, *rules):
    response, body = fetch(server.conn(), "/__control/faults", "POST", body=json.dumps(rules))
    assert response.status == 200, body
    return json.loads(body)


class TestFaults:
    def test_status_on_get_and_head_keeps_alive_first_live_match_wins(self, ctl):
        set_faults(ctl, "Player/a.bin=status:503@2", "Player/*=status:500@1", "Player/*=status:502")
        conn = ctl.conn()
        response, body = fetch(conn, BASE + "/Player/a.bin")
        assert (response.status, body, response.getheader("Content-Length")) == (503, b"error 503\n", "10")
        response, body = fetch(conn, BASE + "/Player/a.bin", "HEAD")
        assert (response.status, body, response.getheader("Content-Length")) == (503, b"", "10")
        assert fetch(conn, BASE + "/LauncherPatchInfo.txt")[1] == INFO
        agent = {"User-Agent": "first-match"}
        assert [fetch(conn, BASE + "/Player/a.bin", headers=agent)[0].status for _ in range(3)] == [500, 502, 502]
        assert [e["fault"] for e in ctl.log("first-match", 3)] == ["Player/*=status:500@1"] + ["Player/*=status:502"] * 2

    def test_body_faults(self, ctl):
        set_faults(ctl, "Player/a.bin=nolength", "Player/sub/*=short:100", "LauncherPatchInfo.txt=long:7",
                   "Player/escape.txt=reset:5", "Player/c.bin=reset:300")
        status, headers, body, end = raw(ctl, BASE + "/Player/a.bin")
        assert ("content-length" not in headers, headers["connection"], body, end) == \
            (True, "close", BLOB, "close_notify")
        status, headers, body, end = raw(ctl, BASE + "/Player/sub/dir/b.zip")
        assert (headers["content-length"], body, end) == ("1000", BLOB[:100], "close_notify")
        with pytest.raises(http.client.IncompleteRead):
            fetch(ctl.conn(), BASE + "/Player/sub/dir/b.zip")
        status, headers, body, end = raw(ctl, BASE + "/LauncherPatchInfo.txt")
        assert headers["content-length"] == str(len(INFO)) and body[:len(INFO)] == INFO
        assert (len(body), end) == (len(INFO) + 7, "close_notify")
        assert fetch(ctl.conn(), BASE + "/LauncherPatchInfo.txt")[1] == INFO  # a client that trusts the length
        response, body = fetch(ctl.conn(), BASE + "/Player/sub/dir/b.zip", "HEAD")
        assert (response.status, response.getheader("Content-Length")) == (200, "1000")
        status, headers, body, end = raw(ctl, BASE + "/Player/c.bin")
        assert (headers["content-length"], body, end) == (str(len(BLOB)), BLOB[:300], "reset")
        assert fetch(ctl.conn(), BASE + "/Player/escape.txt")[0].status == 404  # a fault opens no way out of root

    def test_redirect_on_get_and_head_even_for_a_missing_file(self, ctl):
        target = "http://127.0.0.1:9/edge/a.bin"
        set_faults(ctl, f"Player/a.bin=redirect:{target}", "Player/gone.bin=redirect:HTTPS://x/y@1")
        conn = ctl.conn()
        for method in ("GET", "HEAD"):
            response, body = fetch(conn, BASE + "/Player/a.bin?tick=5", method)
            assert (response.status, response.getheader("Location")) == (302, target), method
            assert body == (f"moved to {target}\n".encode() if method == "GET" else b"")
        response, _ = fetch(conn, BASE + "/Player/gone.bin")
        assert (response.status, response.getheader("Location")) == (302, "HTTPS://x/y")
        assert fetch(conn, BASE + "/Player/gone.bin")[0].status == 404  # its count is used up
        for bad in ("Player/a.bin=redirect", "Player/a.bin=redirect:ftp://x/", "Player/a.bin=redirect:/relative"):
            response, _ = fetch(ctl.conn(), "/__control/faults", "POST", body=json.dumps([bad]))
            assert response.status == 400, bad

    def test_norange_answers_a_range_with_the_whole_file(self, ctl):
        set_faults(ctl, "Player/a.bin=norange@1")
        response, body = fetch(ctl.conn(), BASE + "/Player/a.bin", headers={"Range": "bytes=100-199"})
        assert (response.status, body, response.getheader("Content-Range")) == (200, BLOB, None)
        response, body = fetch(ctl.conn(), BASE + "/Player/a.bin", headers={"Range": "bytes=100-199"})
        assert (response.status, body) == (206, BLOB[100:200])

    def test_bodies_without_a_length_whole_and_cut(self, ctl):
        set_faults(ctl, "Player/a.bin=nolength:700", "Player/c.bin=chunked", "Player/sub/*=chunked:300")
        status, headers, body, end = raw(ctl, BASE + "/Player/a.bin")
        assert ("content-length" not in headers, headers["connection"], body, end) == \
            (True, "close", BLOB[:700], "close_notify")
        assert fetch(ctl.conn(), BASE + "/Player/c.bin")[1] == BLOB  # decoded by a real client
        status, headers, body, end = raw(ctl, BASE + "/Player/c.bin")
        assert (headers["transfer-encoding"], "content-length" not in headers, body.endswith(b"\r\n0\r\n\r\n")) == \
            ("chunked", True, True)
        with pytest.raises(http.client.IncompleteRead):
            fetch(ctl.conn(), BASE + "/Player/sub/dir/b.zip", headers={"User-Agent": "chunks-cut"})
        status, headers, body, end = raw(ctl, BASE + "/Player/sub/dir/b.zip", b"User-Agent: chunks-cut\r\n")
        assert (body.endswith(b"\r\n0\r\n\r\n"), end) == (False, "close_notify")
        assert [e["bytes_sent"] for e in ctl.log("chunks-cut", 2)] == [300, 300]

    def test_slow_and_delay_take_time(self, ctl):
        set_faults(ctl, "Player/sub/*=slow:2000", "Player/a.bin=delay:0.5")
        began = time.monotonic()
        assert fetch(ctl.conn(), BASE + "/Player/sub/dir/b.zip")[1] == BLOB[:1000]
        assert time.monotonic() - began >= 0.4
        began = time.monotonic()
        fetch(ctl.conn(), BASE + "/Player/a.bin", "HEAD")
        assert time.monotonic() - began < 0.3, "delay must not touch HEAD"
        assert fetch(ctl.conn(), BASE + "/Player/a.bin")[1] == BLOB and time.monotonic() - began >= 0.5

    def test_control_replace_clear_reject_and_log(self, ctl):
        time.sleep(0.2)  # lets the previous test's last line land before the clear
        fetch(ctl.conn(), "/__control/log", "DELETE")
        set_faults(ctl, "Player/*=status:500")
        assert set_faults(ctl, "LauncherPatchInfo.txt=status:503") == \
            [{"rule": "LauncherPatchInfo.txt=status:503", "remaining": None}]
        assert fetch(ctl.conn(), BASE + "/Player/a.bin")[0].status == 200
        response, _ = fetch(ctl.conn(), "/__control/faults", "POST", body='["no-kind"]')
        assert response.status == 400
        assert fetch(ctl.conn(), BASE + "/LauncherPatchInfo.txt")[0].status == 503
        fetch(ctl.conn(), "/__control/faults", "DELETE")
        assert fetch(ctl.conn(), BASE + "/LauncherPatchInfo.txt")[0].status == 200
        entries = json.loads(fetch(ctl.conn(), "/__control/log?count=3")[1])
        assert [(e["path"].rsplit("/", 1)[1], e["status"]) for e in entries] == \
            [("a.bin", 200), ("LauncherPatchInfo.txt", 503), ("LauncherPatchInfo.txt", 200)]

    def test_command_line_rules(self, launch):
        server = launch("--fault", "Player/*=status:500@1", "--slow-limit", "0.5", "--fault", "Player/*=slow:1000")
        assert fetch(server.conn(), BASE + "/Player/a.bin")[0].status == 500
        began = time.monotonic()
        status, headers, body, end = raw(server, BASE + "/Player/a.bin")
        assert 0.4 <= time.monotonic() - began < 2 and 300 <= len(body) <= 700 and end == "close_notify"
        for bad in ("x", "a=bogus", "a=status:99", "a=delay:61", "a=short", "a=nolength:x", "a=chunked:-1",
                    "a=short:1@0"):
            done = run_tool("--root", HERE, "--fault", bad, timeout=10)
            assert done.returncode == 2 and "fault rule" in done.stderr, bad


class TestCertificates:
    def test_files_and_idempotence(self, certs):
        stamps = {p.name: p.stat().st_mtime_ns for p in certs.iterdir()}
        assert "already" in run_tool("make-certs", str(certs)).stdout
        assert {p.name: p.stat().st_mtime_ns for p in certs.iterdir()} == stamps
        assert (certs / "ca.der").read_bytes() == ssl.PEM_cert_to_DER_cert((certs / "ca.pem").read_text())
        subject = subprocess.run(["openssl", "x509", "-noout", "-subject", "-in", str(certs / "ca.pem")],
                                 capture_output=True, text=True, timeout=10).stdout
        assert "QOR Test Root CA" in subject

    def test_good_cert_tls12_ecdhe_gcm_and_curl(self, plain):
        for host in ("127.0.0.1", "localhost"):
            context = trusting(plain)
            context.maximum_version = ssl.TLSVersion.TLSv1_2
            context.set_ciphers("ECDHE-RSA-AES128-GCM-SHA256")
            with handshake(plain, host, context) as sock:
                assert sock.version() == "TLSv1.2" and sock.cipher()[0] == "ECDHE-RSA-AES128-GCM-SHA256"
        if shutil.which("curl"):
            done = subprocess.run(["curl", "-sS", "--max-time", "10", "--cacert", str(plain.certs / "ca.pem"),
                                   f"https://127.0.0.1:{plain.port}{BASE}/LauncherPatchInfo.txt?tick=3"],
                                  capture_output=True, timeout=15)
            assert done.stdout == INFO, done.stderr

    @pytest.mark.parametrize("cert,stem,code,accepted", [
        ("expired", "server-expired", 10, None),
        ("wrong-host", "server-wronghost", 64, ("ca.pem", "wrong.example.invalid")),
        ("untrusted", "server-untrusted", 20, ("other-ca.pem", "127.0.0.1"))])
    def test_bad_certs_are_served_and_fail_for_the_right_reason(self, launch, cert, stem, code, accepted):
        server = launch("--cert", cert)
        unverified = ssl.create_default_context()
        unverified.check_hostname, unverified.verify_mode = False, ssl.CERT_NONE
        conn = server.conn(unverified)
        assert fetch(conn, BASE + "/LauncherPatchInfo.txt")[1] == INFO
        served = conn.sock.getpeercert(binary_form=True)
        assert served == ssl.PEM_cert_to_DER_cert((server.certs / (stem + ".pem")).read_text())
        with pytest.raises(ssl.SSLCertVerificationError) as failure:
            fetch(server.conn(), BASE + "/LauncherPatchInfo.txt")
        assert failure.value.verify_code == code
        if accepted:  # the chain itself is sound: only the named flaw fails it
            handshake(server, accepted[1], trusting(server, accepted[0])).close()


class TestLifecycle:
    def test_free_port_refuses_and_can_be_served(self, launch):
        port = int(run_tool("free-port", timeout=10).stdout)
        with pytest.raises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", port), 5)
        assert launch("--port", str(port)).port == port  # the later --port wins over the fixture's 0

    def test_trickle_sends_pieces_two_seconds_apart_until_the_slow_limit(self, launch):
        server = launch("--slow-limit", "3", "--fault", "Player/a.bin=trickle:300")
        began = time.monotonic()
        status, headers, body, end = raw(server, BASE + "/Player/a.bin")
        # 300 bytes at once, 300 more after 2 s; the third piece would come after the limit.
        assert 2.8 <= time.monotonic() - began < 4.5
        assert (status, body, end) == (200, BLOB[:600], "close_notify")
        assert headers["content-length"] == "5120"

    def test_sigterm_ends_it_quickly_during_a_slow_answer(self, launch):
        server = launch("--fault", "Player/*=slow:10")
        reader = threading.Thread(target=raw, args=(server, BASE + "/Player/a.bin"), daemon=True)
        reader.start()
        time.sleep(0.3)
        began = time.monotonic()
        server.proc.send_signal(signal.SIGTERM)
        assert server.proc.wait(5) == 0 and time.monotonic() - began < 2
        assert not server.ready.exists()
        reader.join(5)
        assert not reader.is_alive()
