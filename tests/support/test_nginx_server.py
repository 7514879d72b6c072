"""Tests of nginx_server.py: files, ranges, keep-alive and redirects as nginx answers them; stopping leaves nothing."""

import http.client
import json
import os
import signal
import socket
import ssl
import subprocess
import sys
import time
from pathlib import Path

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import nginx_server  # noqa: E402
import patch_server  # noqa: E402

SCRIPT = os.path.join(HERE, "nginx_server.py")
BASE = nginx_server.DEFAULT_BASE
BLOB = bytes(range(256)) * 40  # 10240 bytes; any misplaced slice shows

pytestmark = pytest.mark.skipif(not os.path.exists(nginx_server.NGINX), reason="nginx is not installed")


@pytest.fixture(scope="module")
def certs():
    # The build tree's shared set: made once under a lock, so runs side by side agree on it.
    patch_server.make_certs(patch_server.DEFAULT_CERTS)
    return Path(patch_server.DEFAULT_CERTS)


@pytest.fixture
def root(tmp_path):
    folder = tmp_path / "root"
    (folder / "Player").mkdir(parents=True)
    (folder / "LauncherPatchInfo.txt").write_bytes(b"version=1.2.3\n")
    (folder / "Player" / "b.zip").write_bytes(BLOB)
    (folder / "Player" / "moved.zip").write_bytes(BLOB)
    return folder


@pytest.fixture
def server(tmp_path, root, certs):
    with nginx_server.NginxServer(root, patch_server.free_port(), certs, tmp_path / "work",
                                  redirects=["Player/moved.zip"], lifetime=60) as running:
        yield running


def connect(server, certs):
    context = ssl.create_default_context(cafile=str(certs / "ca.pem"))
    return http.client.HTTPSConnection("127.0.0.1", server.port, context=context, timeout=10)


def fetch(conn, path, headers=None, method="GET"):
    conn.request(method, path, headers={"User-Agent": "nginx-test", **(headers or {})})
    response = conn.getresponse()
    return response, response.read()


def logged(server, count):
    """The test's own requests once `count` are in the access log (a line lands after the answer)."""
    deadline = time.monotonic() + 5
    while True:
        entries = [e for e in server.entries() if e["agent"] == "nginx-test"]
        if len(entries) >= count or time.monotonic() > deadline:
            return entries
        time.sleep(0.05)


def group_alive(pgid):
    try:
        os.killpg(pgid, 0)
        return True
    except ProcessLookupError:
        return False


# ---------------------------------------------------------------- answers

def test_serves_files_under_the_base_with_validators(server, certs):
    conn = connect(server, certs)
    response, body = fetch(conn, BASE + "/Player/b.zip")
    assert (response.status, body) == (200, BLOB)
    assert response.getheader("Accept-Ranges") == "bytes"
    assert response.getheader("ETag") and response.getheader("Last-Modified")
    head, empty = fetch(conn, BASE + "/Player/b.zip", method="HEAD")
    assert (head.status, empty, head.getheader("Content-Length")) == (200, b"", str(len(BLOB)))
    assert fetch(conn, BASE + "/Player/missing.zip")[0].status == 404
    assert fetch(conn, "/LauncherPatchInfo.txt")[0].status == 404  # outside the base
    entry = logged(server, 1)[0]
    assert (entry["method"], entry["uri"], entry["status"]) == ("GET", BASE + "/Player/b.zip", 200)
    assert entry["body_bytes_sent"] == len(BLOB) and entry["tls"].startswith("TLS")


def test_ranges_answer_206_and_honour_if_range(server, certs):
    conn = connect(server, certs)
    response, body = fetch(conn, BASE + "/Player/b.zip", {"Range": "bytes=100-355"})
    assert (response.status, body) == (206, BLOB[100:356])
    assert response.getheader("Content-Range") == f"bytes 100-355/{len(BLOB)}"
    etag = response.getheader("ETag")
    assert fetch(conn, BASE + "/Player/b.zip", {"Range": "bytes=-10"})[1] == BLOB[-10:]
    resumed, body = fetch(conn, BASE + "/Player/b.zip", {"Range": "bytes=10240-"})
    assert resumed.status == 416
    # A changed file (another ETag) must come back whole, not as a slice of the new one.
    stale, body = fetch(conn, BASE + "/Player/b.zip", {"Range": "bytes=0-9", "If-Range": '"0-0"'})
    assert (stale.status, body) == (200, BLOB)
    assert fetch(conn, BASE + "/Player/b.zip", {"Range": "bytes=0-9", "If-Range": etag})[0].status == 206
    assert logged(server, 5)[0]["range"] == "bytes=100-355"


def test_keep_alive_shows_in_the_log_as_one_connection(server, certs):
    conn = connect(server, certs)
    for _ in range(3):
        response, _ = fetch(conn, BASE + "/LauncherPatchInfo.txt")
        assert response.status == 200 and response.getheader("Connection") == "keep-alive"
    other = connect(server, certs)
    fetch(other, BASE + "/LauncherPatchInfo.txt")
    entries = logged(server, 4)
    assert [e["requests"] for e in entries] == [1, 2, 3, 1]
    assert len({e["connection"] for e in entries[:3]}) == 1
    assert entries[3]["connection"] != entries[0]["connection"]


def test_chosen_paths_redirect_to_the_edge_which_serves_the_same_file(server, certs):
    conn = connect(server, certs)
    response, _ = fetch(conn, BASE + "/Player/moved.zip?tick=7")
    assert response.status == 302
    location = response.getheader("Location")
    assert location == f"https://127.0.0.1:{server.port}/edge/Player/moved.zip?tick=7"
    edge, body = fetch(conn, location.split(str(server.port), 1)[1], {"Range": "bytes=0-9"})
    assert (edge.status, body) == (206, BLOB[:10])
    # Only the chosen path moves; its neighbours are served where they are.
    assert fetch(conn, BASE + "/Player/b.zip")[0].status == 200
    assert [e["status"] for e in logged(server, 3)] == [302, 206, 200]


def test_an_unranged_folder_answers_a_range_with_the_whole_file(tmp_path, root, certs):
    with nginx_server.NginxServer(root, patch_server.free_port(), certs, tmp_path / "work", unranged=["Player"],
                                  lifetime=60) as running:
        conn = connect(running, certs)
        response, body = fetch(conn, BASE + "/Player/b.zip", {"Range": "bytes=100-355"})
        assert (response.status, body, response.getheader("Content-Range")) == (200, BLOB, None)
        assert response.getheader("Accept-Ranges") is None
        # Outside the folder ranges still work.
        assert fetch(conn, BASE + "/LauncherPatchInfo.txt", {"Range": "bytes=0-2"})[0].status == 206
        assert [(e["status"], e["range"]) for e in logged(running, 2)] == [(200, "bytes=100-355"), (206, "bytes=0-2")]


def test_an_edge_on_another_host_name_gets_the_whole_address(tmp_path, root, certs):
    port = patch_server.free_port()
    edge = f"https://localhost:{port}/cdn"
    with nginx_server.NginxServer(root, port, certs, tmp_path / "work", redirects=["Player/moved.zip"], edge=edge,
                                  lifetime=60) as server:
        conn = connect(server, certs)
        response, _ = fetch(conn, BASE + "/Player/moved.zip")
        assert (response.status, response.getheader("Location")) == (302, edge + "/Player/moved.zip")
        context = ssl.create_default_context(cafile=str(certs / "ca.pem"))
        there = http.client.HTTPSConnection("localhost", port, context=context, timeout=10)
        moved, body = fetch(there, "/cdn/Player/moved.zip")
        assert (moved.status, body) == (200, BLOB)


def test_an_edge_in_the_clear_is_served_on_the_plain_port(tmp_path, root, certs):
    port, plain = patch_server.free_port(), patch_server.free_port()
    edge = f"http://127.0.0.1:{plain}/edge"
    with nginx_server.NginxServer(root, port, certs, tmp_path / "work", redirects=["Player/moved.zip"], edge=edge,
                                  plain_port=plain, lifetime=60) as server:
        response, _ = fetch(connect(server, certs), BASE + "/Player/moved.zip")
        assert (response.status, response.getheader("Location")) == (302, edge + "/Player/moved.zip")
        moved, body = fetch(http.client.HTTPConnection("127.0.0.1", plain, timeout=10), "/edge/Player/moved.zip")
        assert (moved.status, body) == (200, BLOB)
        first, second = logged(server, 2)
        assert first["tls"].startswith("TLS") and second["tls"] == ""


def test_paths_nginx_would_read_as_syntax_are_refused(tmp_path, root, certs):
    for bad in ('Player/a";b.zip', "Player/$uri.zip", "Player/a\nb.zip"):
        with pytest.raises(ValueError):
            nginx_server.NginxServer(root, 1, certs, tmp_path / "w", redirects=[bad])
    assert not (tmp_path / "w").exists()


# ---------------------------------------------------------------- starting and stopping

def test_stop_ends_master_and_workers_and_can_be_repeated(tmp_path, root, certs):
    server = nginx_server.NginxServer(root, patch_server.free_port(), certs, tmp_path / "work", lifetime=60)
    server.start()
    group, master = server.process.pid, server.master_pid()
    assert group_alive(group) and master
    server.stop()
    assert not group_alive(group)
    with pytest.raises(ProcessLookupError):
        os.kill(master, 0)
    server.stop()
    with pytest.raises(OSError):
        socket.create_connection(("127.0.0.1", server.port), 1)


def test_a_port_in_use_fails_the_start_with_nginx_s_words(tmp_path, root, certs):
    with socket.socket() as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        server = nginx_server.NginxServer(root, taken.getsockname()[1], certs, tmp_path / "work", lifetime=60)
        with pytest.raises(RuntimeError, match="Address already in use"):
            server.start(timeout=10)
        assert server.process is None


def test_command_line_serves_until_sigterm(tmp_path, root, certs):
    ready, port = tmp_path / "ready.json", patch_server.free_port()
    proc = subprocess.Popen(["timeout", "-k", "3", "60", "/usr/bin/python3", SCRIPT, "--root", str(root),
                             "--port", str(port), "--certs", str(certs), "--work", str(tmp_path / "work"),
                             "--redirect", "Player/b.zip", "--lifetime", "50", "--ready-file", str(ready)],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    try:
        deadline = time.monotonic() + 15
        while not ready.exists() and proc.poll() is None and time.monotonic() < deadline:
            time.sleep(0.05)
        assert json.loads(ready.read_text())["port"] == port
        master = int((tmp_path / "work" / "nginx.pid").read_text())
        conn = http.client.HTTPSConnection("127.0.0.1", port, timeout=10,
                                           context=ssl.create_default_context(cafile=str(certs / "ca.pem")))
        assert fetch(conn, BASE + "/Player/b.zip")[0].status == 302
        proc.send_signal(signal.SIGTERM)
        out, _ = proc.communicate(timeout=20)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait(5)
    assert proc.returncode == 0, out
    assert "listening on https://127.0.0.1:%d%s/" % (port, BASE) in out
    assert not ready.exists()
    with pytest.raises(ProcessLookupError):
        os.kill(master, 0)


@pytest.fixture
def netns():
    name = f"ngx-test-{os.getpid()}"
    made = subprocess.run(["timeout", "10", "ip", "netns", "add", name], capture_output=True)
    if made.returncode != 0:
        pytest.skip("no network namespaces here (needs root)")
    try:
        subprocess.run(["timeout", "10", "ip", "netns", "exec", name, "ip", "link", "set", "lo", "up"], check=True)
        yield name
    finally:
        subprocess.run(["timeout", "10", "ip", "netns", "del", name])


def test_runs_inside_a_network_namespace(tmp_path, root, certs, netns):
    port = patch_server.free_port()
    with nginx_server.NginxServer(root, port, certs, tmp_path / "work", netns=netns, lifetime=60) as server:
        inside = subprocess.run(["timeout", "20", "ip", "netns", "exec", netns, "curl", "-s", "--cacert",
                                 str(certs / "ca.pem"), server.url("Player/b.zip")], capture_output=True, timeout=30)
        assert inside.stdout == BLOB
        with pytest.raises(OSError):
            socket.create_connection(("127.0.0.1", port), 1)  # the host's loopback is another one
