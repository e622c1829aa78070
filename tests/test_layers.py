"""The layers read bottom up: no native source includes a layer above its
own, and no two modules of the package import each other (directly or
around a cycle)."""

import re
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
LAYERS = ["core", "cost", "kernel", "search", "python"]  # bottom up; metrics and datasets sit on core


def test_native_includes_never_reach_up():
    rank = {name: index for index, name in enumerate(LAYERS)} | {"metrics": 1, "datasets": 1}
    upward = []
    for source in (ROOT / "src").rglob("*.[ch]pp"):
        layer = source.relative_to(ROOT / "src").parts[0]
        if layer not in rank:
            continue
        for included in re.findall(r'^#include "(\w+)/', source.read_text(), re.MULTILINE):
            if included in rank and rank[included] > rank[layer] and included not in ("metrics", "datasets"):
                upward.append(f"{source.relative_to(ROOT)} includes {included}/")
    assert upward == []


def test_package_modules_import_no_cycle():
    package = ROOT / "python" / "tarnwell"
    graph = {}
    for module in package.glob("*.py"):
        imported = re.findall(r"^\s*from \.(\w+) import", module.read_text(), re.MULTILINE)
        graph[module.stem] = {name for name in imported if name != module.stem}

    def reaches(start, target, seen):
        for following in graph.get(start, ()):
            if following == target or (following not in seen and reaches(following, target, seen | {following})):
                return True
        return False

    assert [name for name in graph if reaches(name, name, {name})] == []
