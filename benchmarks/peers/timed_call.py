"""What both peer workers print: one timed detection as one JSON line."""
import json
import time


def peak_rss_kib():
    # The high-water mark of this process's own memory (getrusage would also
    # report the parent's, which survives the exec on Linux).
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def print_timed_run(run, x, argument):
    """Times run(x, argument) and prints its time, its changes as sorted
    positions c, 0 < c < n, and the process's peak memory."""
    start = time.perf_counter()
    found = run(x, argument)
    seconds = time.perf_counter() - start
    n = len(x)
    print(json.dumps({"time": seconds, "changes": sorted({int(c) for c in found if 0 < int(c) < n}),
                      "peak_rss_kib": peak_rss_kib()}))
