"""The player's speed limit over the emulated link: launcher_content.exe installs the content
series from nothing with the limit kept in the player's registry at 1, 2 and 5 MB/s and off, in
alternating runs, and the bytes that reach its chunk cache over a 30 s window are set against
the limit (and, off, against the link's rate). The window starts once the fetch has run for
WARM_UP seconds, so that neither the first requests nor the bucket's first second count. Used by
link_bench.py."""
import statistics
import time

import link_content
import link_emulation

LIMITS_MB = (1, 2, 5, 0)  # MB/s as the menu offers them (MiB); 0: off
MB = 1 << 20
WARM_UP = 3.0
WINDOW = 30.0
CHOICE_KEY = r"HKCU\Software\QOR Launcher\Brevanta.exe"


def keep_limit(harness, mb):
    if mb:
        harness.reg("add", CHOICE_KEY, "/v", "ContentRateLimit", "/t", "REG_DWORD", "/d", str(mb), "/f")
    else:
        harness.reg("delete", CHOICE_KEY, "/v", "ContentRateLimit", "/f")


def cache_size(folder):
    try:
        return (folder / "content.cache").stat().st_size
    except OSError:
        return None


def windowed_rate(harness, road, folder, timeout=120):
    """Bytes per second into the cache over the window (or over what the fetch had left of it,
    with the seconds it lasted, when the release was fetched whole first)."""
    road.prepare(harness, folder)
    run = harness.Launcher.__new__(harness.Launcher)
    run.folder, run.process, run.exit_code = folder, None, None
    run.start(timeout=timeout + 30)
    try:
        started = time.monotonic()
        while cache_size(folder) is None:
            if time.monotonic() - started > timeout or not run.running():
                raise RuntimeError(f"{road.label}: no fetch began")
            time.sleep(0.01)
        begin = time.monotonic() + WARM_UP
        time.sleep(WARM_UP)
        first = cache_size(folder)
        last, at = first, begin
        while time.monotonic() - begin < WINDOW:
            size = cache_size(folder)
            if size is None:  # the run ended: its cache is gone
                break
            if size != last:
                last, at = size, time.monotonic()
            time.sleep(0.05)
        else:
            at = begin + WINDOW
    finally:
        run.stop()
    seconds = at - begin
    return (last - first) / max(seconds, 0.001), seconds


def limit_profile(harness, work, series, link, nginx_class, certs, delay_ms, rate_bits, runs):
    road = link_content.Road(f"install {link_content.NEW} from nothing", series, None, link_content.NEW)
    there = nginx_class(series.root, harness.PORT, certs, work / "nginx", listen=link_emulation.NAMESPACE_ADDRESS,
                        netns=link.name, lifetime=3600)
    rates = {mb: [] for mb in LIMITS_MB}
    try:
        with there:
            for i in range(runs):
                for mb in LIMITS_MB:
                    keep_limit(harness, mb)
                    relay = link_emulation.Relay(harness.PORT, f"{link_emulation.NAMESPACE_ADDRESS}:{harness.PORT}",
                                                 delay_ms, 0.0, work / "relay", seed=i + 1, lifetime=600)
                    with relay:
                        rate, seconds = windowed_rate(harness, road, work / "player")
                    rates[mb].append(rate)
                    what = f"limit {mb} MB/s" if mb else "no limit"
                    print(f"  limit, {what}, run {i + 1}: {rate / MB:.3f} MiB/s into the cache over {seconds:.1f} s",
                          flush=True)
    finally:
        keep_limit(harness, 0)
    link_bytes = rate_bits / 8
    for mb in LIMITS_MB:
        values = rates[mb]
        if mb:
            ratios = [v / (mb * MB) for v in values]
            print(f"    limit {mb} MB/s: achieved / limit   min {min(ratios):.3f}  median "
                  f"{statistics.median(ratios):.3f}  max {max(ratios):.3f}  ({len(ratios)} runs)")
        else:
            ratios = [v / link_bytes for v in values]
            print(f"    no limit:       achieved / link    min {min(ratios):.3f}  median "
                  f"{statistics.median(ratios):.3f}  max {max(ratios):.3f}  (link {link_bytes / 1e6:.2f} MB/s; "
                  f"{len(ratios)} runs)", flush=True)
