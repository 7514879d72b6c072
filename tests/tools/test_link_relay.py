"""The benchmarks' delay and loss relay (bench/link_relay.py) on 127.0.0.1: the delay each way
and behind a new connection's handshake, bytes kept whole and in order under loss, the stall
a loss costs, half-closes passed on, and the counters it leaves."""
import json
import os
import random
import socket
import subprocess
import threading
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
RELAY = ROOT / "bench" / "link_relay.py"
DELAY = 0.05


class Upstream:
    """A server on a free loopback port: 'echo' returns what it reads (and 'bye' after the
    client's end), 'send:N:SEED' sends N random bytes and closes."""

    def __init__(self, mode):
        self.mode = mode
        self.sock = socket.create_server(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        self.sock.settimeout(20)
        try:
            while True:
                conn, _ = self.sock.accept()
                threading.Thread(target=self.answer, args=(conn,), daemon=True).start()
        except OSError:
            return

    def answer(self, conn):
        with conn:
            conn.settimeout(20)
            if self.mode == "echo":
                while True:
                    data = conn.recv(65536)
                    if not data:
                        conn.sendall(b"bye")
                        return
                    conn.sendall(data)
            _, size, seed = self.mode.split(":")
            conn.sendall(random.Random(int(seed)).randbytes(int(size)))

    def close(self):
        self.sock.close()


@pytest.fixture
def relay(tmp_path):
    started = []

    def start(upstream_port, *options):
        ready = tmp_path / f"ready-{len(started)}.json"
        stats = tmp_path / f"stats-{len(started)}.json"
        process = subprocess.Popen(
            ["/usr/bin/python3", str(RELAY), "--listen", "127.0.0.1:0", "--upstream", f"127.0.0.1:{upstream_port}",
             "--delay-ms", str(DELAY * 1000), "--lifetime", "60", "--ready-file", str(ready), "--stats", str(stats),
             *map(str, options)], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        started.append(process)
        deadline = time.time() + 10
        while not ready.exists() and time.time() < deadline and process.poll() is None:
            time.sleep(0.02)
        assert ready.exists(), process.stderr.read() if process.poll() is not None else "relay not ready"
        port = json.loads(ready.read_text())["port"]

        def stop():
            process.terminate()
            process.wait(10)
            return json.loads(stats.read_text())
        return port, stop

    yield start
    for process in started:
        if process.poll() is None:
            process.kill()
            process.wait(10)


def exchange(sock, data):
    start = time.monotonic()
    sock.sendall(data)
    got = b""
    while len(got) < len(data):
        got += sock.recv(65536)
    return time.monotonic() - start, got


def receive_all(sock):
    chunks = []
    while True:
        data = sock.recv(65536)
        if not data:
            return b"".join(chunks)
        chunks.append(data)


def test_each_way_is_delayed_and_a_new_connection_waits_a_round_trip_more(relay):
    upstream = Upstream("echo")
    port, stop = relay(upstream.port)
    with socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
        first, got = exchange(sock, b"hello")
        assert got == b"hello"
        later = [exchange(sock, b"x" * 100)[0] for _ in range(3)]
    # Handshake (2 x delay) plus there and back; later exchanges only there and back.
    assert 4 * DELAY - 0.005 <= first < 4 * DELAY + 0.15
    assert all(2 * DELAY - 0.005 <= t < 2 * DELAY + 0.1 for t in later), later
    assert stop()["connections"] == 1
    upstream.close()


def test_a_half_close_reaches_the_server_and_its_answer_comes_back(relay):
    upstream = Upstream("echo")
    port, stop = relay(upstream.port)
    with socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
        sock.sendall(b"request")
        sock.shutdown(socket.SHUT_WR)
        assert receive_all(sock) == b"requestbye"
    stop()
    upstream.close()


def test_under_loss_every_byte_arrives_in_order_and_stalls_are_counted(relay):
    size = 3_000_000
    upstream = Upstream(f"send:{size}:7")
    port, stop = relay(upstream.port, "--loss", "0.02", "--stall-ms", "20", "--seed", "3")
    with socket.create_connection(("127.0.0.1", port), timeout=20) as sock:
        got = receive_all(sock)
    assert got == random.Random(7).randbytes(size)
    stats = stop()
    pieces = stats["pieces"]["to_client"]
    assert pieces >= size // 1448
    # About one piece in fifty; far from none and far from all.
    assert 0.01 * pieces < stats["stalls"]["to_client"] < 0.04 * pieces
    assert stats["bytes"]["to_client"] == size
    upstream.close()


def test_stalls_cost_time_once_the_window_is_full(relay):
    size = 1_000_000
    upstream = Upstream(f"send:{size}:8")
    # A window of 64 KiB and a stall of 100 ms every ~30 pieces: far slower than no loss.
    port, stop = relay(upstream.port, "--loss", "0.03", "--stall-ms", "100", "--window", "65536")
    start = time.monotonic()
    with socket.create_connection(("127.0.0.1", port), timeout=30) as sock:
        assert len(receive_all(sock)) == size
    elapsed = time.monotonic() - start
    stalls = stop()["stalls"]["to_client"]
    # Each stall's time that the window could not cover is lost: at least half of them.
    assert stalls > 5 and elapsed > 0.5 * stalls * 0.1
    upstream.close()


def test_a_refused_upstream_closes_the_client_and_is_counted(relay):
    free = socket.socket()
    free.bind(("127.0.0.1", 0))
    port_nobody = free.getsockname()[1]
    free.close()
    port, stop = relay(port_nobody)
    with socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
        assert receive_all(sock) == b""
    assert stop()["upstream_failures"] == 1


def test_a_bad_command_line_is_refused():
    result = subprocess.run(["/usr/bin/python3", str(RELAY), "--listen", "127.0.0.1:0", "--upstream", "nowhere",
                             "--lifetime", "5"], capture_output=True, timeout=20)
    assert result.returncode == 2
    result = subprocess.run(["/usr/bin/python3", str(RELAY), "--listen", "127.0.0.1:0", "--upstream", "127.0.0.1:1",
                             "--loss", "1.5", "--lifetime", "5"], capture_output=True, timeout=20)
    assert result.returncode == 2
    assert os.path.exists(RELAY)
