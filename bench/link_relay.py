#!/usr/bin/python3
"""A TCP relay that gives each connection through it a link's delay and, optionally, its losses.

    link_relay.py --listen 127.0.0.1:PORT --upstream HOST:PORT --delay-ms 20 [--loss 0.01]
                  [--stall-ms 240] [--window BYTES] [--seed N] [--lifetime S]
                  [--ready-file FILE] [--stats FILE]

Each direction's bytes are held for the one-way delay before they are passed on, in order. A new
connection's first bytes towards the server also wait one round trip after the accept, as the
client's first data would behind a real SYN and SYN-ACK; the rate is left to the kernel (a
qdisc on the path to the upstream). With --loss P, every piece of about one segment (1448 bytes)
is lost with probability P: that piece and everything after it in that direction are held for
a further --stall-ms (default 200 ms plus the round trip, like a retransmission after a
time-out), order kept. While a direction holds more than --window bytes (default 1 MiB, four
times what 50 Mbit/s puts on a 40 ms round trip) it stops reading, so its sender stalls as
behind a full receive window; without that a stall would cost nothing but memory. Stdlib only; stopped by SIGTERM (or by --lifetime), it writes its counters to
--stats."""
import argparse
import asyncio
import collections
import json
import os
import random
import signal
import socket
import sys

SEGMENT = 1448  # payload of one Ethernet-sized segment with TCP timestamps
READ_SIZE = 65536


class Counters:
    def __init__(self):
        self.connections = 0
        self.bytes = {"to_server": 0, "to_client": 0}
        self.pieces = {"to_server": 0, "to_client": 0}
        self.stalls = {"to_server": 0, "to_client": 0}
        self.upstream_failures = 0

    def as_dict(self):
        return {"connections": self.connections, "bytes": self.bytes, "pieces": self.pieces,
                "stalls": self.stalls, "upstream_failures": self.upstream_failures}


class Direction:
    """One direction of one connection: reads, stamps each piece with its release time, writes
    it when that time has come, in order."""

    def __init__(self, name, reader, writer, config, rng, gate, counters):
        self.name, self.reader, self.writer = name, reader, writer
        self.config, self.rng, self.gate, self.counters = config, rng, gate, counters
        self.queue = collections.deque()  # (release time, bytes or None for the end)
        self.held = 0
        self.last_release = 0.0
        self.arrived = asyncio.Event()
        self.space = asyncio.Event()
        self.space.set()

    def stamp(self, data, now):
        """Splits data where a piece is lost and queues each part with its release time."""
        base = max(now, self.gate) + self.config.delay
        loss = self.config.loss
        start = 0
        if loss > 0:
            for offset in range(0, len(data), SEGMENT):
                if self.rng.random() < loss:
                    self.push(data[start:offset], base)
                    start = offset
                    # The lost piece and everything behind it wait for the retransmission.
                    self.last_release = max(self.last_release, base) + self.config.stall
                    self.counters.stalls[self.name] += 1
            self.counters.pieces[self.name] += (len(data) + SEGMENT - 1) // SEGMENT
        self.push(data[start:], base)

    def push(self, part, release):
        if not part:
            return
        self.last_release = max(self.last_release, release)
        self.queue.append((self.last_release, part))
        self.held += len(part)
        self.arrived.set()

    async def read_side(self):
        loop = asyncio.get_running_loop()
        try:
            while True:
                while self.held > self.config.window:
                    self.space.clear()
                    await self.space.wait()
                data = await self.reader.read(READ_SIZE)
                if not data:
                    break
                self.counters.bytes[self.name] += len(data)
                self.stamp(data, loop.time())
        except (ConnectionError, OSError):
            pass
        self.queue.append((max(self.last_release, loop.time() + self.config.delay), None))
        self.arrived.set()

    async def write_side(self):
        loop = asyncio.get_running_loop()
        try:
            while True:
                while not self.queue:
                    self.arrived.clear()
                    await self.arrived.wait()
                release = self.queue[0][0]
                wait = release - loop.time()
                if wait > 0:
                    await asyncio.sleep(wait)
                now = loop.time()
                parts, ended = [], False
                while self.queue and self.queue[0][0] <= now:
                    _, part = self.queue.popleft()
                    if part is None:
                        ended = True
                        break
                    parts.append(part)
                if parts:
                    size = sum(len(p) for p in parts)
                    self.writer.write(b"".join(parts))
                    await self.writer.drain()
                    self.held -= size
                    self.space.set()
                if ended:
                    if self.writer.can_write_eof():
                        self.writer.write_eof()
                    return
        except (ConnectionError, OSError):
            return


def no_delay(writer):
    sock = writer.get_extra_info("socket")
    if sock is not None:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)


async def serve_one(client_reader, client_writer, config, counters):
    loop = asyncio.get_running_loop()
    accepted = loop.time()
    counters.connections += 1
    rng = random.Random(config.seed * 1_000_003 + counters.connections)
    no_delay(client_writer)
    try:
        up_reader, up_writer = await asyncio.wait_for(
            asyncio.open_connection(config.upstream_host, config.upstream_port), timeout=10)
    except (OSError, asyncio.TimeoutError):
        counters.upstream_failures += 1
        client_writer.close()
        return
    no_delay(up_writer)
    # The client's first bytes would leave only after the SYN and SYN-ACK, one round trip.
    to_server = Direction("to_server", client_reader, up_writer, config, rng, accepted + 2 * config.delay, counters)
    to_client = Direction("to_client", up_reader, client_writer, config, rng, 0.0, counters)
    tasks = [asyncio.ensure_future(c) for c in (to_server.read_side(), to_server.write_side(),
                                                to_client.read_side(), to_client.write_side())]
    try:
        # The connection is over once the server's side has been passed on to its end.
        await tasks[3]
    finally:
        for task in tasks:
            task.cancel()
        for writer in (client_writer, up_writer):
            try:
                writer.close()
            except OSError:
                pass


def write_json(path, data):
    if not path:
        return
    tmp = f"{path}.part"
    with open(tmp, "w") as f:
        json.dump(data, f)
    os.replace(tmp, path)


async def main_async(config):
    counters = Counters()
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    server = await asyncio.start_server(lambda r, w: serve_one(r, w, config, counters),
                                        config.listen_host, config.listen_port, reuse_address=True)
    port = server.sockets[0].getsockname()[1]
    write_json(config.ready_file, {"port": port, "pid": os.getpid()})
    print(f"link_relay: 127.0.0.1:{port} -> {config.upstream_host}:{config.upstream_port}, "
          f"delay {config.delay * 1000:.0f} ms each way, loss {config.loss}", flush=True)
    try:
        await asyncio.wait_for(stop.wait(), timeout=config.lifetime)
    except asyncio.TimeoutError:
        pass
    server.close()
    write_json(config.stats, counters.as_dict())
    if config.ready_file:
        try:
            os.unlink(config.ready_file)
        except OSError:
            pass


def host_port(text):
    host, _, port = text.rpartition(":")
    if not host or not port.isdigit():
        raise argparse.ArgumentTypeError(f"{text!r} is not HOST:PORT")
    return host, int(port)


def parse(argv):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--listen", type=host_port, required=True)
    p.add_argument("--upstream", type=host_port, required=True)
    p.add_argument("--delay-ms", type=float, default=20.0)
    p.add_argument("--loss", type=float, default=0.0)
    p.add_argument("--stall-ms", type=float, default=None, help="default 200 ms plus the round trip")
    p.add_argument("--window", type=int, default=1024 * 1024)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--lifetime", type=float, default=3600.0)
    p.add_argument("--ready-file")
    p.add_argument("--stats")
    args = p.parse_args(argv)
    if not 0 <= args.loss < 1 or args.delay_ms < 0 or args.window < SEGMENT:
        p.error("loss must be in [0, 1), the delay not negative, the window at least one segment")
    args.listen_host, args.listen_port = args.listen
    args.upstream_host, args.upstream_port = args.upstream
    args.delay = args.delay_ms / 1000.0
    args.stall = (args.stall_ms if args.stall_ms is not None else 200.0 + 2 * args.delay_ms) / 1000.0
    return args


def main(argv=None):
    asyncio.run(main_async(parse(sys.argv[1:] if argv is None else argv)))


if __name__ == "__main__":
    main()
