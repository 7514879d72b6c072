#!/usr/bin/python3
"""The emulated link of the benchmarks: a network namespace joined to this one by a veth pair
whose two ends each send at most the link's rate (tbf), and the delay and loss relay
(link_relay.py) on 127.0.0.1 in front of a server inside the namespace.

    link_emulation.py up   [--name NS] [--rate 50mbit]   make the namespace, the pair, the qdiscs
    link_emulation.py down [--name NS]                   remove them (nothing there is fine)
    link_emulation.py check                              whether this machine can (root, tbf)

Only the pair's own addresses (a /30) and the loopback carry traffic. The names carry the
caller's port so that parallel runs of other worktrees keep out of each other's way."""
import argparse
import json
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
HOST_ADDRESS = "10.231.0.1"
NAMESPACE_ADDRESS = "10.231.0.2"
PREFIX_LENGTH = 30
DEFAULT_RATE = "50mbit"
# A burst of about ten segments and a queue of at most 20 ms at the rate: the rate is what the
# path allows, not a buffer in front of it.
TBF_BURST = "15kb"
TBF_LATENCY = "20ms"


def default_name():
    return f"qorlink{os.environ.get('TEST_PATCH_PORT', '48443')}"


def run(*command, check=True, timeout=20):
    result = subprocess.run(["timeout", str(timeout), *command], capture_output=True, text=True)
    if check and result.returncode != 0:
        raise RuntimeError(f"{' '.join(command)}: {result.stderr.strip() or result.returncode}")
    return result


class Link:
    """One namespace NAME with the veth pair NAME-h (here) and NAME-n (there)."""

    def __init__(self, name=None, rate=DEFAULT_RATE):
        self.name = name or default_name()
        self.host_end = f"{self.name[-9:]}h"
        self.namespace_end = f"{self.name[-9:]}n"
        self.rate = rate

    def exists(self):
        return self.name in run("ip", "netns", "list", check=False).stdout.split()

    def _address_in_use(self):
        shown = run("ip", "-o", "addr", "show", check=False).stdout
        return any(f" {HOST_ADDRESS}/" in line and f" {self.host_end} " not in line for line in shown.splitlines())

    def up(self):
        self.down()
        if self._address_in_use():
            raise RuntimeError(f"{HOST_ADDRESS} is already in use on this machine")
        try:
            run("ip", "netns", "add", self.name)
            run("ip", "link", "add", self.host_end, "type", "veth", "peer", "name", self.namespace_end,
                "netns", self.name)
            run("ip", "addr", "add", f"{HOST_ADDRESS}/{PREFIX_LENGTH}", "dev", self.host_end)
            run("ip", "link", "set", self.host_end, "up")
            run("ip", "-n", self.name, "addr", "add", f"{NAMESPACE_ADDRESS}/{PREFIX_LENGTH}", "dev",
                self.namespace_end)
            run("ip", "-n", self.name, "link", "set", self.namespace_end, "up")
            run("ip", "-n", self.name, "link", "set", "lo", "up")
            for namespace in (None, self.name):
                self._shape(namespace)
        except Exception:
            self.down()
            raise
        return self

    def _shape(self, namespace):
        device = self.namespace_end if namespace else self.host_end
        prefix = ["ip", "netns", "exec", namespace] if namespace else []
        run(*prefix, "tc", "qdisc", "replace", "dev", device, "root", "tbf", "rate", self.rate,
            "burst", TBF_BURST, "latency", TBF_LATENCY)

    def down(self):
        # Removing the namespace removes its end of the pair, and with it the pair and both
        # qdiscs; the host end is removed by hand only if it somehow outlived that.
        if self.exists():
            run("ip", "netns", "del", self.name, check=False)
        if run("ip", "link", "show", self.host_end, check=False).returncode == 0:
            run("ip", "link", "del", self.host_end, check=False)

    def qdiscs(self):
        here = run("tc", "qdisc", "show", "dev", self.host_end, check=False).stdout.strip()
        there = run("ip", "netns", "exec", self.name, "tc", "qdisc", "show", "dev", self.namespace_end,
                    check=False).stdout.strip()
        return here, there

    def __enter__(self):
        return self.up()

    def __exit__(self, *exc):
        self.down()


def cannot_run():
    """Why this machine cannot make the link (None when it can)."""
    if os.geteuid() != 0:
        return "not root (a network namespace and qdiscs need root)"
    for tool in ("ip", "tc", "nginx"):
        if run("sh", "-c", f"command -v {tool}", check=False).returncode != 0:
            return f"no {tool} command"
    # The probe is the link itself, so a stale one of an interrupted run is cleared first.
    link = Link()
    try:
        link.up()
    except RuntimeError as error:
        return f"the namespace or its tbf qdisc cannot be made: {error}"
    finally:
        link.down()
    return None


# ---- the relay as a process of its own ---------------------------------------------------

class Relay:
    """link_relay.py in front of HOST:PORT, listening on 127.0.0.1:listen_port; bounded in time,
    ended by its pid."""

    def __init__(self, listen_port, upstream, delay_ms, loss, state, seed=1, lifetime=1800):
        self.state = Path(state)
        self.state.mkdir(parents=True, exist_ok=True)
        self.ready = self.state / "relay-ready.json"
        self.stats_file = self.state / "relay-stats.json"
        for f in (self.ready, self.stats_file):
            f.unlink(missing_ok=True)
        self.command = ["/usr/bin/python3", str(HERE / "link_relay.py"), "--listen", f"127.0.0.1:{listen_port}",
                        "--upstream", upstream, "--delay-ms", str(delay_ms), "--loss", str(loss),
                        "--seed", str(seed), "--lifetime", str(lifetime), "--ready-file", str(self.ready),
                        "--stats", str(self.stats_file)]
        self.process = None

    def start(self):
        log = open(self.state / "relay.out", "w")
        self.process = subprocess.Popen(self.command, stdout=log, stderr=subprocess.STDOUT,
                                        stdin=subprocess.DEVNULL, start_new_session=True)
        log.close()
        deadline = time.time() + 10
        while time.time() < deadline and not self.ready.exists():
            if self.process.poll() is not None:
                raise RuntimeError(f"the relay ended at once: {(self.state / 'relay.out').read_text()}")
            time.sleep(0.05)
        if not self.ready.exists():
            self.stop()
            raise RuntimeError("the relay did not start")
        return self

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(10)
        try:
            return json.loads(self.stats_file.read_text())
        except (OSError, ValueError):
            return None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("action", choices=("up", "down", "check"))
    p.add_argument("--name")
    p.add_argument("--rate", default=DEFAULT_RATE)
    args = p.parse_args(argv)
    if args.action == "check":
        reason = cannot_run()
        print(reason or "ok")
        return 1 if reason else 0
    link = Link(args.name, args.rate)
    if args.action == "up":
        link.up()
        for line in link.qdiscs():
            print(line)
    else:
        link.down()
    return 0


if __name__ == "__main__":
    sys.exit(main())
