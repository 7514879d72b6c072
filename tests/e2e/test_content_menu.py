"""The content mode's menu on the real window, driven with the pointer and keys: pause and
resume (of the chunk lanes and of a delta), the speed limit kept in the player's registry, a
repair, and no menu at all in a launcher built without the mode."""
import os
import random
import time

import harness
from test_content_deltas import program_bytes
from test_content_patching import content_run, game_files, publish, ranges
from test_fault_matrix import EXIT_BUTTON, READY, shows, wait_until

import content_release  # noqa: E402  (tools/, put on the path by test_content_patching)

CHOICE_KEY = r"HKCU\Software\QOR Launcher\Brevanta.exe"
VERIFIED = "게임을 시작할 준비가 되었습니다. [버전: {}] 복구한 파일: {}개"
SPOT = (300, 150)  # on the opaque illustration, away from every button


def open_menu(origin, by_key=False):
    """A right-click on the window, or the context-menu key with the pointer over it."""
    harness.move_pointer(origin[0] + SPOT[0], origin[1] + SPOT[1])
    time.sleep(0.15)
    if by_key:
        harness.xdotool("key", "Menu")
    else:
        harness.xdotool("click", 3)
    time.sleep(0.6)


def pick(origin, *keys, by_key=False):
    """Opens the menu and walks it with keys: the popup starts with nothing selected."""
    open_menu(origin, by_key)
    for key in keys:
        harness.xdotool("key", key)
        time.sleep(0.2)


def kept_limit():
    out = harness.reg("query", CHOICE_KEY, "/v", "ContentRateLimit").stdout.decode(errors="replace")
    for line in out.splitlines():
        if "ContentRateLimit" in line:
            return int(line.split()[-1], 16)
    return None


def pack_requests(server, mark):
    return [r for r in server.requests_since(mark) if "/Content/packs/" in r["path"]]


def menu_shows(origin):
    """Opens the menu and tells whether the screen around the pointer changed (the popup)."""
    box = (origin[0] + SPOT[0] - 10, origin[1] + SPOT[1] - 10, origin[0] + SPOT[0] + 200, origin[1] + SPOT[1] + 150)
    harness.move_pointer(origin[0] + SPOT[0], origin[1] + SPOT[1])
    time.sleep(0.5)
    before = harness.screenshot().crop(box).tobytes()
    harness.xdotool("click", 3)
    time.sleep(1.0)
    return harness.screenshot().crop(box).tobytes() != before


def asked_per_piece(server, mark):
    """{(pack, last byte): [first byte of each request for it, in order]} since mark."""
    pieces = {}
    for pack, first, last in ranges(server, mark):
        pieces.setdefault((pack, last), []).append(first)
    return pieces


def test_pause_quit_resume_and_the_limit_kept_in_the_registry(launcher, server, folder):
    # The limit kept by an earlier start (1 MB/s) paces these: 6 MB take seconds, not a blink.
    harness.reg("add", CHOICE_KEY, "/v", "ContentRateLimit", "/t", "REG_DWORD", "/d", "1", "/f")
    try:
        files = {"data/big.pak": os.urandom(6 << 20), "Brevanta.exe": os.urandom(20000)}
        publish(server, folder, [(10002, files)])
        mark = server.log_mark()
        run = content_run(launcher, {}, None)
        run.start()
        origin = run.origin()
        assert wait_until(lambda: pack_requests(server, mark), timeout=30)
        assert menu_shows(origin)
        for key in ("Down", "Return"):  # pause
            harness.xdotool("key", key)
        time.sleep(1.0)  # the lanes stop at their next chunk
        quiet = server.log_mark()
        time.sleep(1.5)
        assert not pack_requests(server, quiet), "a paused launcher asked for more"
        harness.click(origin[0] + EXIT_BUTTON[0], origin[1] + EXIT_BUTTON[1])  # quit while paused
        assert run.wait(15) == 0
        assert (run.folder / "content.cache").exists() and not (run.folder / "data" / "big.pak").exists()

        # The next start resumes from the cache; paused and resumed again, it ends ready.
        second = server.log_mark()
        run.start()
        origin = run.origin()
        assert wait_until(lambda: pack_requests(server, second), timeout=30)
        time.sleep(0.3)
        pick(origin, "Down", "Return")  # pause
        time.sleep(1.0)
        pick(origin, "Down", "Return")  # resume
        assert shows(origin, READY.format(10002), timeout=60)
        assert (run.folder / "data" / "big.pak").read_bytes() == files["data/big.pak"]
        pieces = asked_per_piece(server, second)
        # A piece asked again starts past what its earlier request delivered and kept.
        assert any(len(starts) > 1 for starts in pieces.values()), pieces
        assert all(starts == sorted(set(starts)) for starts in pieces.values()), pieces
        # What the first start kept is not asked for again; at the limit it could not have had it all.
        asked = sum(last - starts[0] + 1 for (_, last), starts in pieces.items())
        assert 1 << 20 <= asked < 6 << 20, asked

        # A limit picked from the menu is kept for the next starts: off, 1, 2 MB/s.
        pick(origin, "Down", "Down", "Right", "Down", "Down", "Return")
        assert wait_until(lambda: kept_limit() == 2, timeout=5), kept_limit()
        run.stop()
    finally:
        harness.reg("delete", CHOICE_KEY, "/f")


def delta_of(server, name, version, base):
    """(pack file name, offset, stored size) of name's delta from base in release version."""
    release = content_release.parse((server.root / "Content" / "releases" / f"{version}.release").read_bytes(),
                                    version)
    index = next(i for i, f in enumerate(release.files) if f.path == name.encode())
    row = next(r for r in release.deltas if r[0] == index and r[1] == base)
    return content_release.pack_name(*release.packs[row[4]][:2]), row[5], row[6]


def test_a_delta_is_paced_by_the_limit_and_paused_mid_way_goes_on_from_where_it_got(launcher, server, folder):
    rng = random.Random(29)
    v1 = {"Brevanta.exe": program_bytes(rng, 3 << 20)}
    # Every chunk changed and four MiB that only the delta carries cheaply: the delta is taken.
    changed = bytearray(v1["Brevanta.exe"])
    for at in range(0, len(changed), 3000):
        changed[at] ^= 0xFF
    changed[1 << 20:1 << 20] = rng.randbytes(4 << 20)
    v2 = {"Brevanta.exe": bytes(changed)}
    publish(server, folder, [(10001, v1)])
    run = content_run(launcher, {}, None)
    run.start()
    assert shows(run.origin(), READY.format(10001), timeout=90)
    run.stop()
    publish(server, folder, [(10002, v2)])
    pack, offset, size = delta_of(server, "Brevanta.exe", 10002, 10001)
    harness.reg("add", CHOICE_KEY, "/v", "ContentRateLimit", "/t", "REG_DWORD", "/d", "1", "/f")
    try:
        mark = server.log_mark()
        run.start()
        origin = run.origin()
        assert wait_until(lambda: (run.folder / "content.delta").exists(), timeout=30)
        time.sleep(0.3)  # under way: at 1 MB/s the delta takes seconds
        pick(origin, "Down", "Return")  # pause
        time.sleep(1.0)
        quiet = server.log_mark()
        time.sleep(1.5)
        assert not pack_requests(server, quiet), "a paused launcher asked for more"
        pick(origin, "Down", "Return")  # resume
        assert shows(origin, READY.format(10002), timeout=60)
        run.stop()
    finally:
        harness.reg("delete", CHOICE_KEY, "/f")
    assert (run.folder / "Brevanta.exe").read_bytes() == v2["Brevanta.exe"]
    asked = [(first, last) for name, first, last in ranges(server, mark)
             if name == pack and offset <= first and last == offset + size - 1]
    # Asked for from its start, then from past what the paused transfer delivered: no byte twice.
    assert len(asked) == 2 and asked[0][0] == offset < asked[1][0], (asked, offset, size)
    # The delta alone: none of the program's chunks besides.
    assert len(ranges(server, mark)) == 2, ranges(server, mark)


def test_repair_from_the_menu_mends_a_damaged_file(launcher, server, folder):
    files = game_files(1)
    publish(server, folder, [(10002, files)])
    run = content_run(launcher, {}, None)
    run.start()
    origin = run.origin()
    assert shows(origin, READY.format(10002), timeout=90)
    damaged = run.folder / "data" / "base.pak"
    damaged.write_bytes(b"\0" * 1000 + files["data/base.pak"][1000:])
    pick(origin, "Down", "Down", "Down", "Return", by_key=True)  # pause, speed, (line), repair
    assert shows(origin, VERIFIED.format(10002, 1), timeout=60)
    assert damaged.read_bytes() == files["data/base.pak"]
    assert run.running()  # repaired in the running launcher, no restart
    run.stop()


def test_a_launcher_without_the_content_mode_shows_no_menu(launcher, server):
    info = harness.INFO_HEAD + "10203\n"
    server.put("LauncherPatchInfo.txt", info)
    run = launcher()
    (run.folder / "update.dat").write_text(info)
    run.write_config(10203)
    run.start()
    origin = run.origin()
    assert shows(origin, READY.format(10203), timeout=30)
    assert not menu_shows(origin)
    harness.xdotool("key", "Escape")
    assert run.running()
    run.stop()
