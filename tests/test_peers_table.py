"""The peers benchmark publishes only tables measured on an idle machine."""

import importlib.util
from pathlib import Path


def test_peers_benchmark_refuses_to_publish_a_busy_table(tmp_path, monkeypatch):
    spec = importlib.util.spec_from_file_location(
        "peers_bench", Path(__file__).resolve().parent.parent / "benchmarks" / "peers" / "bench.py")
    bench = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(bench)
    readme = tmp_path / "README.md"
    readme.write_text(f"before\n{bench.TABLE_START}\nold\n{bench.TABLE_END}\nafter\n")
    monkeypatch.setattr(bench, "README", str(readme))
    assert bench.write_readme(["| new |"], busy=["100,000 every 100"]) == 1
    assert "old" in readme.read_text()
    assert bench.write_readme(["| new |"], busy=[]) == 0
    assert readme.read_text() == f"before\n{bench.TABLE_START}\n| new |\n{bench.TABLE_END}\nafter\n"
