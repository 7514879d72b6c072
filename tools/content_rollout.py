"""A channel's staged rollout in its patch information: a [ROLLOUT] section ahead of
[INSTALLER] with one line, "VERSION PERCENT". Content launchers whose bucket (0 to 99, drawn
once per install) is below PERCENT take VERSION; the others stay on the release before it. A
launcher without the content mode reads nothing ahead of [INSTALLER], and the patch
information's signature covers the section, so nobody on the network can move an install."""

HEADER = "[ROLLOUT]"


class RolloutError(Exception):
    pass


def check_percent(percent):
    if not 0 <= percent <= 100:
        raise RolloutError(f"a rollout is 0 to 100 percent, not {percent}")


def read(text):
    """(version, percent) of text's rollout, or None."""
    lines = (text or "").splitlines()
    if not lines or lines[0].strip() != HEADER or len(lines) < 2:
        return None
    tokens = lines[1].split()
    if len(tokens) != 2 or not all(t.isdigit() for t in tokens):
        return None
    return int(tokens[0]), int(tokens[1])


def without(text):
    """text with no [ROLLOUT] section."""
    lines = (text or "").splitlines()
    if lines and lines[0].strip() == HEADER:
        rest = 1
        while rest < len(lines) and not lines[rest].lstrip().startswith("["):
            rest += 1
        lines = lines[rest:]
    return "\n".join(lines) + "\n" if lines else ""


def with_rollout(text, version, percent):
    """text rolling version out to percent; a rollout at 100 is a full release: no section."""
    check_percent(percent)
    rest = without(text)
    return rest if percent == 100 else f"{HEADER}\n{version} {percent}\n{rest}"
