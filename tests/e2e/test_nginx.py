"""The launcher, the Updater, the keyed launcher and the content launcher against Debian's nginx on
the test port, configured as operators run it (keep-alive, ETag, byte ranges, sendfile), and a patch
host that sends some files on to an edge location with 302, as CDNs do; nginx's access log shows how
WinInet asked."""
import json
import os
import re
import subprocess
import sys
import time

import pytest

import harness
from harness import BASE_PATH, BASE_URL, PORT, STATE, WORK
from test_fault_matrix import HEAD, READY, ends_on_its_exit_button, shows
from test_patching import make_zip
from test_signed_patching import SIDE_FILES
from test_updater import (DOWNLOAD_FAILED, NEW, OLD, ends, game_folder,  # noqa: F401
                          hands_over_and_comes_back_ready, old_launcher_intact, publish_next, server_folder,
                          start_updater, temporaries)
import test_content_patching as content
import test_signed_patching  # the roads of these modules, run here against nginx
import test_updater

sys.path.insert(0, str(harness.ROOT / "tests" / "support"))
import nginx_server  # noqa: E402
import patch_server  # noqa: E402

EDGE = nginx_server.DEFAULT_EDGE
# The edge under another host name, as a CDN's is: the same nginx, reached as localhost.
EDGE_URL = f"https://localhost:{PORT}{EDGE}"
LAUNCHER_AGENTS = ("downslib", "MS")


class NginxServed(harness.PatchServer):
    """The test run's patch folder served by nginx on the launcher's port; its access log stands
    in for the Python server's request log."""

    def __init__(self, redirects=(), edge=EDGE_URL, plain_port=None, unranged=()):
        self.nginx = nginx_server.NginxServer(self.root, PORT, STATE / "certs", WORK / "nginx", redirects=redirects,
                                              edge=edge, plain_port=plain_port, lifetime=900, unranged=unranged)

    def set_faults(self, rules):
        assert not rules, "nginx answers as it is configured; faults need the Python server"

    def log_mark(self):
        return self.nginx.log_mark()

    def requests_since(self, mark):
        # A line lands just after the answer's last byte; the launcher may be quicker.
        time.sleep(0.3)
        return self.nginx.entries(mark)


@pytest.fixture(scope="module")
def python_server_aside():
    """The Python server leaves the port to nginx for this module and comes back after it."""
    if not os.path.exists(nginx_server.NGINX):
        pytest.skip("nginx is not installed")
    if not (STATE / "ready.json").exists():
        pytest.skip("the test patch server is not running")
    main = harness.PatchServer()
    main.stop_main()
    try:
        yield
    finally:
        main.start_main()


def serve(redirects=(), **where):
    served = NginxServed(redirects, **where)
    served.reset()
    served.nginx.start()
    return served


@pytest.fixture
def server(python_server_aside):
    """Named like conftest's server, so the other modules' helpers take it as theirs."""
    served = serve()
    yield served
    served.nginx.stop()


def launcher_requests(served, mark):
    return [r for r in served.requests_since(mark) if r["agent"] in LAUNCHER_AGENTS]


def name_of(entry):
    return entry["path"].rsplit("/", 1)[-1]


def assert_plain_answers(entries):
    """What nginx answered: 200 with the whole body, ETag and Accept-Ranges offered; the
    launcher asked without a range and without a validator."""
    for entry in entries:
        assert entry["status"] == 200, entry
        assert entry["etag"] and entry["accept_ranges"] == "bytes", entry
        assert entry["range"] == "" and entry["if_range"] == "" and entry["if_none_match"] == "", entry
        assert entry["tls"].startswith("TLSv1.2 ECDHE-RSA-AES"), entry


def keep_alive_summary(entries):
    """Requests per TLS connection, in order of first use: [(connection, [names])]."""
    connections = {}
    for entry in entries:
        connections.setdefault(entry["connection"], []).append(f'{entry["method"]} {name_of(entry)}')
    return list(connections.items())


# ---- the classic road ----------------------------------------------------------------------

def test_the_classic_road_patches_every_step_from_nginx(launcher, server):
    big = os.urandom(1_500_000)
    files = {"a.zip": make_zip({"data/maps/field.map": b"F" * 300000, "data/sound/bgm.ogg": os.urandom(400000)}),
             "b.zip": make_zip({"readonly.dat": b"new content"}),
             "notice.txt": b"Welcome to season 2\r\n",
             "sub/c.zip": make_zip({"data/quests/q2.qst": b"Q2" * 1000}, directories=True),
             "big.bin": big}
    for name, data in files.items():
        server.put(f"Player/{name}", data)
    server.put("LauncherPatchInfo.txt", HEAD + "10002 base.zip\n10003 a.zip b.zip\n10004 notice.txt sub/c.zip\n"
                                              "10005 big.bin\n")
    run = launcher()
    run.add_stand_in("Brevanta.exe")
    run.write_config(10002)
    mark = server.log_mark()
    run.start("-nginx")
    origin = run.origin()
    assert shows(origin, READY.format(10005), timeout=60)
    assert run.version() == 10005
    assert (run.folder / "data/maps/field.map").read_bytes() == b"F" * 300000
    assert (run.folder / "data/quests/q2.qst").read_bytes() == b"Q2" * 1000
    assert (run.folder / "big.bin").read_bytes() == big and not list(run.folder.rglob("*.zip"))
    ends_on_its_exit_button(run, origin)

    entries = launcher_requests(server, mark)
    assert [(e["method"], name_of(e), e["agent"]) for e in entries] == [
        ("HEAD", "LauncherPatchInfo.txt", "downslib"), ("GET", "LauncherPatchInfo.txt", "downslib"),
        *[("GET", name.rsplit("/", 1)[-1], "MS") for name in ("a.zip", "b.zip", "notice.txt", "sub/c.zip", "big.bin")]]
    assert_plain_answers(entries)
    for entry in entries[2:]:
        assert entry["body_bytes_sent"] == len(files[entry["path"].split("/Player/", 1)[1]]), entry
    assert entries[0]["body_bytes_sent"] == 0 and entries[1]["query"].startswith("tick=")
    # Which requests WinInet sends on one kept-alive connection is its own choice (its pool
    # outlives the root handles the launcher closes after each file), printed for the reader.
    assert all(e["request_connection"] == "" for e in entries)  # never asked to close
    summary = keep_alive_summary(entries)
    print("\nnginx connections of the classic road:", summary)
    assert len(summary) < len(entries), f"WinInet reused no connection: {summary}"


# ---- a patch host that sends files on to its edge -------------------------------------------

def edge_names():
    return ["LauncherPatchInfo.txt", "Player/edge.zip", "Player/sub/edge.bin", f"{server_folder()}/{NEW}/launcher.exe"]


@pytest.fixture
def edge_server(python_server_aside):
    served = serve(redirects=edge_names())
    yield served
    served.nginx.stop()


def assert_followed_to_the_edge(entries, names):
    """Each request for `names` was answered 302 to the edge and asked again there by WinInet
    itself, with the same method, agent and query."""
    for name in names:
        asked = [e for e in entries if e["path"] == f"{BASE_PATH}/{name}"]
        followed = [e for e in entries if e["path"] == f"{EDGE}/{name}"]
        assert asked and all(e["status"] == 302 for e in asked), asked
        assert [e["location"] for e in asked] == [f"{EDGE_URL}/{name}" + (f"?{e['query']}" if e["query"] else "")
                                                  for e in asked]
        assert [(e["method"], e["agent"], e["query"]) for e in followed] == \
            [(e["method"], e["agent"], e["query"]) for e in asked]
        assert_plain_answers(followed)


def test_redirected_files_are_fetched_from_the_edge_and_patched(launcher, edge_server):
    server = edge_server
    blob = os.urandom(200000)
    server.put("Player/edge.zip", make_zip({"edge/inside.txt": b"from the edge"}))
    server.put("Player/sub/edge.bin", blob)
    server.put("Player/here.txt", b"served in place")
    server.put("LauncherPatchInfo.txt", HEAD + "10003 here.txt\n10004 edge.zip sub/edge.bin\n")
    run = launcher()
    run.write_config(10002)
    mark = server.log_mark()
    run.start()
    origin = run.origin()
    assert shows(origin, READY.format(10004), timeout=60)
    assert run.version() == 10004
    assert (run.folder / "edge" / "inside.txt").read_bytes() == b"from the edge"
    assert (run.folder / "sub" / "edge.bin").read_bytes() == blob
    assert (run.folder / "here.txt").read_bytes() == b"served in place"
    assert (run.folder / "update.dat").read_text() == (server.root / "LauncherPatchInfo.txt").read_text()
    ends_on_its_exit_button(run, origin)

    entries = launcher_requests(server, mark)
    print("\nnginx answers with edge redirects:",
          [(e["method"], e["path"], e["status"], e["connection"]) for e in entries])
    assert_followed_to_the_edge(entries, edge_names()[:3])
    assert [e["status"] for e in entries if name_of(e) == "here.txt"] == [200]


# ---- the Updater road ----------------------------------------------------------------------

def test_the_updater_fetches_the_new_launcher_from_nginx(launcher, server, ends):
    mark = server.log_mark()
    test_updater.test_the_launcher_updates_itself_and_the_new_one_comes_back_ready(launcher, server, ends)
    by_updater = [e for e in server.requests_since(mark) if e["agent"] == "Updater"]
    assert_plain_answers(by_updater)
    published = server.root / server_folder() / NEW / "launcher.exe"
    assert [e["body_bytes_sent"] for e in by_updater] == [published.stat().st_size]


def test_the_updater_follows_the_edge_with_its_full_certificate_check(launcher, edge_server, ends):
    run = game_folder(launcher, edge_server, required=OLD)
    published = publish_next(edge_server)
    mark = edge_server.log_mark()
    elapsed = hands_over_and_comes_back_ready(run, published)
    by_updater = [e for e in edge_server.requests_since(mark) if e["agent"] == "Updater"]
    assert len(by_updater) == 2
    assert_followed_to_the_edge(by_updater, edge_names()[3:])
    print(f"\nself-update road through the edge: {elapsed:.1f} s from the old launcher's start "
          "to the new one's ready state")


# ---- the keyed road ------------------------------------------------------------------------

def test_the_keyed_launcher_verifies_nginx_s_signed_folder_and_patches(launcher, server, folder):
    mark = server.log_mark()
    test_signed_patching.test_the_publishing_round_trip_through_a_keyed_launcher_is_byte_exact(launcher, server, folder)
    gets = [e for e in launcher_requests(server, mark) if e["method"] == "GET"]
    assert [name_of(e) for e in gets] == [*SIDE_FILES[1:], SIDE_FILES[0], "patch_10002.zip", "patch_10003.zip"]
    assert gets[0]["query"].startswith("tick=") and gets[0]["query"] == gets[1]["query"]
    assert_plain_answers(gets)


# ---- an edge in the clear ------------------------------------------------------------------

# Under Wine 8 WinInet follows a 302 from HTTPS to plain HTTP by itself, so the plain request
# does happen: what these tests hold is that its answer is refused like a failed open, and
# nothing that came in the clear is installed.

@pytest.fixture
def downgrading_server(python_server_aside):
    plain = patch_server.free_port()
    served = serve(redirects=["Player/clear.txt", f"{server_folder()}/{NEW}/launcher.exe"],
                   edge=f"http://127.0.0.1:{plain}{EDGE}", plain_port=plain)
    yield served
    served.nginx.stop()


def answered_in_the_clear(server, mark, name):
    return [e for e in server.requests_since(mark) if e["path"] == f"{EDGE}/{name}" and e["tls"] == ""]


def test_a_patch_file_redirected_to_plain_http_fails_like_an_open_and_is_not_installed(launcher, downgrading_server):
    server = downgrading_server
    server.put("Player/clear.txt", "fetched in the clear")
    server.put("LauncherPatchInfo.txt", HEAD + "10003 clear.txt\n")
    run = launcher()
    run.write_config(10002)
    mark = server.log_mark()
    run.start()
    origin = run.origin()
    assert shows(origin, "Downloading failed - open (clear.txt)", timeout=60)
    assert harness.start_button_look(harness.screenshot(), origin) == "disabled"
    assert run.version() == 10002 and not (run.folder / "clear.txt").exists()
    assert not [p.name for p in run.folder.iterdir() if p.name.endswith(".part")]
    # The redirect was followed out of TLS (the test would prove nothing otherwise); its body was not kept.
    assert answered_in_the_clear(server, mark, "Player/clear.txt")
    ends_on_its_exit_button(run, origin)


def replaced(folder):
    try:
        return not old_launcher_intact(folder)
    except OSError:  # in the middle of the swap
        return False


def test_the_updater_refuses_a_launcher_redirected_to_plain_http_and_changes_nothing(launcher, downgrading_server,
                                                                                     ends):
    run = game_folder(launcher, downgrading_server, required=OLD)
    publish_next(downgrading_server)
    mark = downgrading_server.log_mark()
    updater = start_updater(run.folder, "Launcher", 0, NEW, BASE_URL)
    box = harness.probe_box("Updater", timeout_ms=30000)
    assert box["found"], "no box from the Updater"
    assert "connection error 12040: the server sent it on to an address without encryption" in box["text"], box
    assert "launcher.exe" in box["text"] and "Nothing was changed" in box["text"], box
    assert updater.wait(30) == DOWNLOAD_FAILED
    assert old_launcher_intact(run.folder) and temporaries(run.folder) == [] and not replaced(run.folder)
    assert not harness.find_windows()  # no launcher was started
    assert answered_in_the_clear(downgrading_server, mark, f"{server_folder()}/{NEW}/launcher.exe")


# ---- the content road ----------------------------------------------------------------------

PUBLISH = harness.ROOT / "tools" / "publish_patch.py"
RELEASES = "Content/releases"
PACKS = "Content/packs"
ONE_RANGE = re.compile(r"bytes=(\d+)-(\d+)")


def content_plan(server, client, version):
    """What publish_patch.py content-plan says a player with folder `client` downloads."""
    client.mkdir(parents=True, exist_ok=True)
    result = subprocess.run(["/usr/bin/python3", str(PUBLISH), "content-plan", str(server.root), "--from", str(client),
                             "--to", str(version), "--json"], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    return json.loads(result.stdout)


def served_path(entry):
    """The path below the patch folder that a request asked for, at the base or at the edge."""
    for prefix in (BASE_PATH, EDGE):
        if entry["path"].startswith(prefix + "/"):
            return entry["path"][len(prefix) + 1:]
    return entry["path"]


def below(entry, folder):
    return served_path(entry).startswith(folder + "/")


def requested_range(entry):
    """(first, last) of a request that asked for one range of bytes."""
    match = ONE_RANGE.fullmatch(entry["range"])
    assert match, f"not a single-range request: {entry}"
    return int(match.group(1)), int(match.group(2))


def content_requests(served, mark):
    """The content launcher's requests: the signed side files, the release and the packs, nothing else."""
    entries = launcher_requests(served, mark)
    side = [e for e in entries if name_of(e) in SIDE_FILES]
    releases = [e for e in entries if below(e, RELEASES)]
    packs = [e for e in entries if below(e, PACKS)]
    assert len(side) + len(releases) + len(packs) == len(entries), entries
    return side, releases, packs


def assert_whole(entries, served, names):
    """Each of names fetched once (a HEAD aside), its whole length in one answer."""
    gets = [e for e in entries if e["method"] == "GET"]
    assert sorted(name_of(e) for e in gets) == sorted(names), gets
    for entry in gets:
        size = (served.root / served_path(entry)).stat().st_size
        assert entry["status"] in (200, 206) and entry["body_bytes_sent"] == size, entry
        if entry["status"] == 206:
            assert requested_range(entry) == (0, size - 1), entry
        else:
            assert entry["range"] == "", entry


def assert_ranges_of_the_plan(packs, plan):
    """The pack requests are the plan's single ranges, each answered 206 with its bytes. Up to
    four run at once, so they reach the server in any order."""
    asked = sorted((name_of(e), *requested_range(e)) for e in packs)
    assert asked == sorted(tuple(r) for r in plan["request_list"]), (asked, plan["request_list"])
    for entry in packs:
        first, last = requested_range(entry)
        assert entry["status"] == 206 and entry["body_bytes_sent"] == last - first + 1, entry
    assert len(packs) == plan["requests"] and sum(e["body_bytes_sent"] for e in packs) == plan["fetch_bytes"]


def content_update(launcher, served, folder, releases, have, installed, target):
    """Publishes releases, runs the content launcher from the files `have` of release `installed`
    (None: no client at all) to `target`; returns the plan and the launcher's requests."""
    content.publish(served, folder, releases)
    content.write_tree(folder / "player-before", have)
    plan = content_plan(served, folder / "player-before", target)
    run = content.content_run(launcher, have, installed)
    mark = served.log_mark()
    run.start()
    assert shows(run.origin(), READY.format(target), timeout=90)
    run.stop()
    assert content.client_files(run.folder) == dict(releases)[target] and run.version() == target
    assert not content.no_partial_files(run.folder)
    return plan, content_requests(served, mark)


def test_the_content_launcher_skips_to_the_newest_with_single_ranges_from_nginx(launcher, server, folder):
    v1, v2, v3, v4 = content.versions_four(folder)
    plan, (side, releases, packs) = content_update(launcher, server, folder,
                                                   [(10002, v2), (10003, v3), (10004, v4)], v1, 10001, 10004)
    assert_whole(side, server, SIDE_FILES)
    assert_whole(releases, server, ["10004.release"])
    assert_ranges_of_the_plan(packs, plan)
    assert len(plan["packs_touched"]) == 3, plan  # one skip, three releases' packs
    print(f"\ncontent skip over nginx: {plan['requests']} range request(s), {plan['fetch_bytes']} bytes of "
          f"{plan['content_bytes']}")


def test_the_content_launcher_installs_into_an_empty_folder_from_nginx(launcher, server, folder):
    v1, v2, v3, v4 = content.versions_four(folder)
    plan, (side, releases, packs) = content_update(launcher, server, folder,
                                                   [(10002, v2), (10003, v3), (10004, v4)], {}, None, 10004)
    assert_whole(side, server, SIDE_FILES)
    assert_whole(releases, server, ["10004.release"])
    assert_ranges_of_the_plan(packs, plan)
    assert plan["fetch_bytes"] >= plan["ideal_bytes"] > 0


@pytest.fixture
def nginx_with(python_server_aside):
    """nginx with the given redirects and folders that ignore ranges."""
    started = []

    def make(**where):
        served = serve(**where)
        started.append(served)
        return served
    yield make
    for served in started:
        served.nginx.stop()


def test_a_pack_and_a_release_sent_on_to_the_edge_keep_their_ranges(launcher, nginx_with, folder):
    moved = [f"{PACKS}/10003-0.pack", f"{RELEASES}/10004.release"]
    served = nginx_with(redirects=moved)
    v1, v2, v3, v4 = content.versions_four(folder)
    plan, (side, releases, packs) = content_update(launcher, served, folder, [(10003, v3), (10004, v4)], {}, None,
                                                   10004)
    for name in moved:
        asked = [e for e in releases + packs if e["path"] == f"{BASE_PATH}/{name}"]
        followed = [e for e in releases + packs if e["path"] == f"{EDGE}/{name}"]
        assert asked and all(e["status"] == 302 for e in asked), asked
        # WinInet asks the edge again with the same single range, and the edge answers it.
        assert [e["range"] for e in followed] == [e["range"] for e in asked], (asked, followed)
        for entry in followed:
            first, last = requested_range(entry)
            assert entry["status"] == 206 and entry["body_bytes_sent"] == last - first + 1, entry
    answered = [e for e in packs if e["status"] != 302]
    assert_ranges_of_the_plan(answered, plan)
    assert any(e["path"].startswith(EDGE) for e in answered) and any(e["path"].startswith(BASE_PATH) for e in answered)


def test_a_server_that_ignores_ranges_is_read_for_the_right_slice(launcher, nginx_with, folder):
    """max_ranges 0: every range is answered 200 with the whole file. The launcher reads each
    body from its start, keeps only the bytes it asked for and stops there."""
    served = nginx_with(unranged=["Content"])
    v1, v2, v3, v4 = content.versions_four(folder)
    plan, (side, releases, packs) = content_update(launcher, served, folder,
                                                   [(10002, v2), (10003, v3), (10004, v4)], v1, 10001, 10004)
    assert sorted((name_of(e), *requested_range(e)) for e in packs) == sorted(tuple(r) for r in plan["request_list"])
    for entry in releases + packs:
        first, last = requested_range(entry)
        assert entry["status"] == 200 and entry["body_bytes_sent"] >= last + 1, entry
    print("\ncontent road on a server without ranges:",
          [(name_of(e), e["range"], e["status"], e["body_bytes_sent"]) for e in packs])
