"""Real data for the content benchmark: Debian packages fetched through the machine's own apt
configuration into a cache, unpacked, and laid out as client folders of hard links."""
import functools
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools"))
import content_paths  # noqa: E402

COMPLETE = ".complete"


def record_of(folder):
    """The record beside a folder that says it was made whole (never inside: a client folder
    is published as it is)."""
    folder = Path(folder)
    return folder.with_name(folder.name + COMPLETE)
# Large enough for a few hundred MB over a slow mirror; an apt that hangs is stopped.
DOWNLOAD_TIMEOUT = 1800


def run(command, cwd=None, timeout=600):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=timeout)
    if done.returncode:
        raise RuntimeError(f"{' '.join(command)} failed ({done.returncode}): {done.stderr.strip()[-2000:]}")
    return done.stdout


def _compare(a, b):
    if a == b:
        return 0
    return -1 if subprocess.run(["dpkg", "--compare-versions", a, "lt", b], timeout=30).returncode == 0 else 1


def versions(package):
    """The binary versions of package the apt lists offer, oldest first."""
    found = set()
    for line in run(["apt-cache", "madison", package]).splitlines():
        fields = [f.strip() for f in line.split("|")]
        if len(fields) == 3 and fields[0] == package and fields[2].endswith("Packages"):
            found.add(fields[1])
    return sorted(found, key=functools.cmp_to_key(_compare))


def deb_file(cache, package, version):
    """The cached .deb of package at version, or None (apt-get download names it this way)."""
    quoted = version.replace(":", "%3a")
    found = sorted(Path(cache).glob(f"{package}_{quoted}_*.deb"))
    return found[0] if found else None


def download(cache, wanted):
    """[.deb path] of each (package, version or None for the candidate), fetched with
    `apt-get download` only when the cache lacks it."""
    cache = Path(cache)
    cache.mkdir(parents=True, exist_ok=True)
    candidates = candidate_versions([p for p, v in wanted if not v])
    resolved = [(p, v or candidates[p]) for p, v in wanted]
    missing = [f"{p}={v}" for p, v in resolved if deb_file(cache, p, v) is None]
    if missing:
        print(f"  apt-get download {' '.join(missing)}", flush=True)
        run(["nice", "apt-get", "download", "-q", *missing], cwd=cache, timeout=DOWNLOAD_TIMEOUT)
    return [deb_file(cache, p, v) for p, v in resolved]


def candidate_versions(packages):
    """{package: the version apt would install}, from one apt-cache call."""
    found, package = {}, None
    for line in (run(["apt-cache", "policy", *packages]).splitlines() if packages else []):
        if line and not line[0].isspace() and line.endswith(":"):
            package = line[:-1]
        elif line.strip().startswith("Candidate:") and package in packages:
            value = line.split(":", 1)[1].strip()
            if value and value != "(none)":
                found[package] = value
    missing = sorted(set(packages) - set(found))
    if missing:
        raise RuntimeError(f"apt offers no {', '.join(missing)}: run apt-get update?")
    return found


def unpack(deb, target):
    """dpkg-deb -x into target, once."""
    target = Path(target)
    if record_of(target).exists():
        return target
    shutil.rmtree(target, ignore_errors=True)
    part = target.with_name(target.name + ".part")
    shutil.rmtree(part, ignore_errors=True)
    part.mkdir(parents=True)
    run(["dpkg-deb", "-x", str(deb), str(part)], timeout=1200)
    os.replace(part, target)
    record_of(target).write_text(f"{deb.name}\n")
    return target


def client_tree(sources, target):
    """Lays out target as a client folder of hard links to the regular files below each source
    folder whose relative path a release may hold, once; returns (files, bytes, left out),
    left out being [(path, why)] of the links and paths it could not take."""
    target = Path(target)
    record = record_of(target)
    if record.exists():
        files, size, *left = record.read_text().splitlines()
        return int(files), int(size), [tuple(line.split("\t", 1)) for line in left]
    shutil.rmtree(target, ignore_errors=True)
    found, left = {}, []
    for source in sources:
        for root, dirs, names in os.walk(source):
            dirs.sort()
            for name in sorted(names):
                path = Path(root) / name
                relative = path.relative_to(source).as_posix()
                if path.is_symlink() or not path.is_file():
                    left.append((relative, "not a regular file"))
                    continue
                problem = content_paths.path_problem(os.fsencode(relative))
                if problem:
                    left.append((relative, problem))
                    continue
                found.setdefault(os.fsencode(relative), path)
    clashes = {name for name, _ in content_paths.set_problems(sorted(found))}
    left += [(content_paths.display(n), "clashes with another path") for n in sorted(clashes)]
    size = 0
    for name in sorted(set(found) - clashes):
        link = target / os.fsdecode(name)
        link.parent.mkdir(parents=True, exist_ok=True)
        os.link(found[name], link)
        size += link.stat().st_size
    files = len(found) - len(clashes)
    lines = [str(files), str(size)] + [f"{p}\t{why}" for p, why in left]
    record.write_text("\n".join(lines) + "\n")
    return files, size, left


class Phases:
    """Wall time per phase, printed as each ends and at the end."""

    def __init__(self):
        self.times = []

    def run(self, name, function, *args, **kwargs):
        start = time.perf_counter()
        print(f"-- {name}", flush=True)
        result = function(*args, **kwargs)
        elapsed = time.perf_counter() - start
        self.times.append((name, elapsed))
        print(f"-- {name}: {elapsed:.1f} s", flush=True)
        return result

    def summary(self):
        total = sum(t for _, t in self.times)
        return [f"  {name}: {t:.1f} s" for name, t in self.times] + [f"  total: {total:.1f} s"]
