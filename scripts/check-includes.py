#!/usr/bin/env python3
"""Checks the import rules of src/ (docs/architecture.md): which folder may include which.

Every folder under src/ must have a rule here; a quoted include that names a folder its rule does
not allow fails the check, and so does any cycle between folders. System headers (<...>) are not
the rules' business. Exits 1 on a broken rule, printing each offending line.

usage: scripts/check-includes.py [src-dir]
"""
import pathlib
import re
import sys

# Folder -> the other folders it may include. The core's subsystems stand on context/ and the
# platform interfaces; app/ alone sees every flow. Inside the Linux backend each protocol client
# keeps to its own protocol: only the top folder, where one platform interface meets one
# desktop, puts clients together.
PLATFORM = "platform"
LINUX = "platform/linux"
RULES = {
    "app": {"context", "ax", "focus", "rescue", "keys", "announce", "modtap", PLATFORM, "platform/posix"},
    "context": {PLATFORM},
    "ax": {"context", PLATFORM},
    "focus": {"context", "ax", PLATFORM},
    "rescue": {"context", "ax", "focus", PLATFORM},
    "keys": {"context", "ax", PLATFORM},
    "announce": {"context", PLATFORM},
    "modtap": {"context", "ax", PLATFORM},
    PLATFORM: set(),
    "platform/posix": {PLATFORM},
    "platform/headless": {PLATFORM, "platform/posix"},
    "platform/macos": {PLATFORM, "platform/posix"},
    LINUX: {PLATFORM, "platform/posix", "platform/headless", f"{LINUX}/common", f"{LINUX}/keys", f"{LINUX}/x11",
            f"{LINUX}/wayland", f"{LINUX}/dbus", f"{LINUX}/atspi", f"{LINUX}/ssip"},
    f"{LINUX}/common": {PLATFORM},
    f"{LINUX}/keys": {PLATFORM, f"{LINUX}/common"},
    f"{LINUX}/x11": {PLATFORM, f"{LINUX}/common", f"{LINUX}/keys"},
    f"{LINUX}/wayland": {PLATFORM, f"{LINUX}/common", f"{LINUX}/keys"},
    f"{LINUX}/dbus": {PLATFORM, f"{LINUX}/common"},
    f"{LINUX}/atspi": {PLATFORM, f"{LINUX}/common", f"{LINUX}/dbus"},
    f"{LINUX}/ssip": {PLATFORM, f"{LINUX}/common"},
}

INCLUDE = re.compile(r'^\s*#\s*(?:include|import)\s+"([^"]+)"', re.MULTILINE)
SOURCES = {".h", ".hpp", ".cpp", ".cc", ".mm", ".m"}


def folder_of(path: str) -> str:
    return str(pathlib.PurePosixPath(path).parent)


def find_cycle(edges: dict[str, set[str]]) -> list[str] | None:
    state: dict[str, int] = {}
    stack: list[str] = []

    def visit(node: str) -> list[str] | None:
        state[node] = 1
        stack.append(node)
        for nxt in sorted(edges.get(node, ())):
            if state.get(nxt) == 1:
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state and (cycle := visit(nxt)):
                return cycle
        stack.pop()
        state[node] = 2
        return None

    for node in sorted(edges):
        if node not in state and (cycle := visit(node)):
            return cycle
    return None


def main() -> int:
    src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent / "src")
    problems: list[str] = []
    edges: dict[str, set[str]] = {}
    for file in sorted(p for p in src.rglob("*") if p.suffix in SOURCES):
        relative = file.relative_to(src).as_posix()
        folder = folder_of(relative)
        if folder not in RULES:
            problems.append(f"{relative}: folder {folder}/ has no import rule in scripts/check-includes.py")
            continue
        text = file.read_text(encoding="utf-8", errors="replace")
        for match in INCLUDE.finditer(text):
            target = match.group(1)
            line = text.count("\n", 0, match.start()) + 1
            if "/" not in target:
                continue  # a header beside the file (generated, or the platform's own)
            if not (src / target).exists():
                problems.append(f"{relative}:{line}: includes {target}, which is not in src/")
                continue
            target_folder = folder_of(target)
            if target_folder == folder:
                continue
            edges.setdefault(folder, set()).add(target_folder)
            if target_folder not in RULES[folder]:
                problems.append(f"{relative}:{line}: {folder}/ may not include {target_folder}/ ({target})")
    if cycle := find_cycle(edges):
        problems.append("folders include each other: " + " -> ".join(f"{f}/" for f in cycle))
    for problem in problems:
        print(problem)
    if problems:
        print(f"check-includes: {len(problems)} broken import rule(s); the rules are in docs/architecture.md")
        return 1
    print(f"check-includes: {len(edges)} folders keep their import rules")
    return 0


if __name__ == "__main__":
    sys.exit(main())
