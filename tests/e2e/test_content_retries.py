"""Content requests tried again: a server error or a connection reset is waited out, with the
seconds counted down on the status line; a file the server refuses stops at once."""
import os
import time

import harness
from test_content_patching import FETCH_FAILED, client_files, content_run, game_files, publish
from test_fault_matrix import READY, ends_on_its_exit_button, no_partial_files, shows

RETRYING = "{}초 후 다시 시도 ({})"
UNAVAILABLE = "서버에 릴리스 {} 없음 ({})"
PACK = "Content/packs/10002-0.pack"


def pack_requests(server, mark):
    return [r for r in server.requests_since(mark) if r["path"].endswith("/" + PACK)]


def band_shows(image, origin, expected):
    """harness.status_line_shows with the expected band drawn beforehand: a countdown's number
    lasts one second, too short to draw the expected frame under Wine on every look."""
    x, y = origin
    band = harness.STATUS_BAND
    a = image.crop((x + band[0], y + band[1], x + band[2], y + band[3])).tobytes()
    b = expected.tobytes()
    return all(harness.near(a[i:i + 3], b[i:i + 3], 6) for i in range(0, len(a), 3))


def countdown_bands(path, seconds):
    """The status band of each of these numbers of the countdown, drawn before the run starts."""
    return {s: harness.expected_frame(RETRYING.format(s, path)).crop(harness.STATUS_BAND) for s in seconds}


def watch_for_retrying(origin, expected, until, timeout):
    """Which of the countdown's numbers the line showed before `until(seen so far)` held."""
    seen = set()
    deadline = time.time() + timeout
    while time.time() < deadline and not until(seen):
        shot = harness.screenshot()
        seen.update(s for s, band in expected.items() if band_shows(shot, origin, band))
        time.sleep(0.05)
    return seen


def test_503_twice_then_200_ends_ready_after_the_waits(launcher, server, folder):
    v1 = game_files(11)
    v2 = dict(v1, **{"data/maps/a.map": os.urandom(30000)})
    publish(server, folder, [(10002, v2)])
    server.set_faults([f"{PACK}=status:503@2"])
    run = content_run(launcher, v1, 10001)
    bands = countdown_bands(PACK, (1, 2, 3))
    mark = server.log_mark()
    began = time.monotonic()
    run.start()
    origin = run.origin()
    seen = watch_for_retrying(origin, bands, lambda seen: run.version() == 10002, timeout=40)
    assert shows(origin, READY.format(10002), timeout=30)
    elapsed = time.monotonic() - began
    run.stop()
    asked = pack_requests(server, mark)
    assert [r["status"] for r in asked][:3] == [503, 503, 206], [r["status"] for r in asked]
    assert seen, "the line never said it was trying again"
    assert {1, 2} & seen
    assert elapsed >= 1 + 2  # a lower bound only: the waits of 1 and 2 s, each plus jitter
    assert client_files(run.folder) == v2
    assert run.version() == 10002
    assert not (run.folder / "content.cache").exists()
    assert not no_partial_files(run.folder)


def test_a_404_on_a_pack_stops_at_once_naming_the_release(launcher, server, folder):
    v1 = game_files(12)
    v2 = dict(v1, **{"data/maps/a.map": os.urandom(30000)})
    publish(server, folder, [(10002, v2)])
    server.set_faults([f"{PACK}=status:404"])
    run = content_run(launcher, v1, 10001)
    mark = server.log_mark()
    run.start()
    assert shows(run.origin(), UNAVAILABLE.format(10002, PACK), timeout=60)
    assert harness.start_button_look(harness.screenshot(), run.origin()) == "disabled"
    run.stop()
    assert len(pack_requests(server, mark)) == 1  # never asked again
    assert client_files(run.folder) == v1
    assert run.version() == 10001
    assert not (run.folder / "content.state").exists()
    assert not no_partial_files(run.folder)


def test_a_connection_reset_mid_range_is_tried_again_and_ends_ready(launcher, server, folder):
    v1 = game_files(13)
    v2 = dict(v1, **{"data/maps/a.map": os.urandom(60000), "data/base.pak": os.urandom(200000)})
    publish(server, folder, [(10002, v2)])
    server.set_faults([f"{PACK}=reset:70000@1"])
    run = content_run(launcher, v1, 10001)
    mark = server.log_mark()
    run.start()
    assert shows(run.origin(), READY.format(10002), timeout=60)
    run.stop()
    asked = pack_requests(server, mark)
    assert len(asked) >= 2 and asked[0]["fault"], asked
    # The second try asks only for what the first did not bring whole: it starts past the first byte.
    first = [int({k.lower(): v for k, v in r["headers"].items()}["range"].split("=")[1].split("-")[0])
             for r in asked[:2]]
    assert first[1] > first[0], first
    assert client_files(run.folder) == v2
    assert run.version() == 10002
    assert not no_partial_files(run.folder)


def test_a_release_manifest_that_comes_back_short_is_tried_again(launcher, server, folder):
    v1 = game_files(14)
    v2 = dict(v1, **{"data/maps/a.map": os.urandom(30000)})
    publish(server, folder, [(10002, v2)])
    server.set_faults(["Content/releases/10002.release=short:10@1"])
    run = content_run(launcher, v1, 10001)
    run.start()
    assert shows(run.origin(), READY.format(10002), timeout=60)
    run.stop()
    assert client_files(run.folder) == v2
    assert run.version() == 10002


def test_the_window_answers_and_quits_while_a_retry_waits(launcher, server, folder):
    v1 = game_files(15)
    v2 = dict(v1, **{"data/maps/a.map": os.urandom(30000)})
    publish(server, folder, [(10002, v2)])
    server.set_faults([f"{PACK}=status:503"])
    run = content_run(launcher, v1, 10001)
    bands = countdown_bands(PACK, (4, 5, 6))
    run.start()
    origin = run.origin()
    # The third wait (4 s, up to 6) counts down from 6, 5 or 4: the exit button is pressed in it.
    seen = watch_for_retrying(origin, bands, lambda seen: bool(seen), timeout=30)
    assert seen, "the line never counted down the third wait"
    ends_on_its_exit_button(run, origin)
    assert client_files(run.folder) == v1
    assert run.version() == 10001
    assert not no_partial_files(run.folder)
