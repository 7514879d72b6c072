"""content-plan against the launcher: what the publisher's tool says a player's folder downloads
is byte for byte what launcher_content.exe then asks the packs for."""
from concurrent.futures import ThreadPoolExecutor
import random

from test_content_patching import READY, client_files, content_run, publish, ranges, shows

import content_plan  # noqa: E402  (tools/, put on the path by test_content_patching)


def test_two_files_trading_contents_fetch_what_content_plan_says(launcher, server, folder):
    rng = random.Random(28)
    a, b = rng.randbytes(70000), rng.randbytes(70000)
    v1 = {"Brevanta.exe": rng.randbytes(30000), "data/a.pak": a, "data/b.pak": b, "data/c.pak": rng.randbytes(20000)}
    v2 = dict(v1, **{"data/a.pak": b, "data/b.pak": a, "data/c.pak": rng.randbytes(20000)})
    publish(server, folder, [(10001, v1), (10002, v2)])
    # The player's own copy of a.pak's bytes lies at a path neither release lists: the launcher
    # never reads such a file, so the plan must not count its chunks either.
    own = {"saves/a.copy": a}
    run = content_run(launcher, dict(v1, **own), 10001)
    with ThreadPoolExecutor(1) as executor:
        plan = content_plan.plan(run.folder, server.root, 10002, executor)
    expected = sorted([tuple(r) for r in plan["request_list"]] + [tuple(r) for r in plan["delta_requests"]])
    mark = server.log_mark()
    run.start()
    assert shows(run.origin(), READY.format(10002), timeout=90)
    run.stop()
    assert client_files(run.folder) == dict(v2, **own)
    fetched = sorted(ranges(server, mark))
    assert fetched and fetched == expected
    # a.pak is made first, from b.pak still in place; b.pak then needs a.pak's old bytes, which
    # that rebuild replaced: they were read into memory before it, not fetched. Only c.pak's are.
    assert plan["saved_bytes"] == len(a)
    entries = {f["path"]: f for f in plan["files"]}
    assert entries["data/a.pak"]["fetched_chunks"] == entries["data/b.pak"]["fetched_chunks"] == 0
    assert entries["data/c.pak"]["reused_chunks"] == 0
    assert len(v2["data/c.pak"]) <= plan["fetch_bytes"] + plan["delta_bytes"] < len(a)
