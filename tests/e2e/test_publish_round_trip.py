"""Publishing round trip: patches made by the operators' tool, applied by the real launcher."""
import os
import sys
from pathlib import Path

import harness
from harness import wait_until

sys.path.insert(0, str(harness.ROOT / "tools"))
import publish_patch  # noqa: E402


def write_tree(root, files):
    for name, data in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)


def tree_bytes(root, ignore):
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in root.rglob("*")
            if p.is_file() and p.relative_to(root).as_posix() not in ignore}


def test_the_launcher_turns_the_old_client_into_the_new_one(launcher, server, folder):
    v1 = {"Brevanta.exe": b"game v1", "data/base.pak": os.urandom(100000), "data/maps/a.map": b"A1" * 5000}
    v2 = dict(v1, **{"data/maps/a.map": b"A2" * 7000, "data/maps/b.map": b"B" * 3000})
    v3 = dict(v2, **{"Brevanta.exe": b"game v3", "data/ui/deep/er/icons.dat": os.urandom(50000)})
    clients = {}
    for version, files in ((10001, v1), (10002, v2), (10003, v3)):
        clients[version] = folder / "clients" / str(version)
        write_tree(clients[version], files)
    publish_patch.publish(clients[10001], clients[10002], 10002, server.root)
    publish_patch.publish(clients[10002], clients[10003], 10003, server.root)

    run = launcher("player")
    write_tree(run.folder, v1)
    run.write_config(10001)
    run.start()
    origin = run.origin()
    ready = "게임을 시작할 준비가 되었습니다. [버전: 10003]"
    assert wait_until(lambda: harness.status_line_shows(harness.screenshot(), origin, ready), timeout=60)
    run.stop()
    own = {"launcher.exe", "config", "update.dat"}
    assert tree_bytes(run.folder, own) == tree_bytes(clients[10003], set())
