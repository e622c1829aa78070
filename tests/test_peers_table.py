"""The peers benchmark publishes only tables measured on an idle machine."""

import importlib.util
from pathlib import Path


def test_peers_benchmark_refuses_to_publish_a_busy_table(tmp_path, monkeypatch):
    module_source = importlib.util.spec_from_file_location(
        "peers_bench", Path(__file__).resolve().parent.parent / "benchmarks" / "peers" / "bench.py")
    bench = importlib.util.module_from_spec(module_source)
    module_source.loader.exec_module(bench)
    page = tmp_path / "performance.md"
    page.write_text(f"before\n{bench.TABLE_START}\nold\n{bench.TABLE_END}\nafter\n")
    monkeypatch.setattr(bench, "TABLE_PAGE", str(page))
    assert bench.write_table(["| new |"], busy=["100,000 every 100"]) == 1
    assert "old" in page.read_text()
    assert bench.write_table(["| new |"], busy=[]) == 0
    assert page.read_text() == f"before\n{bench.TABLE_START}\n| new |\n{bench.TABLE_END}\nafter\n"
