"""The system calls of a write-back, read from an strace log: every traced
call from the first that opens a file named .tolvanik-* on, each as (name,
its number among the calls of that name over the whole run, as strace's
inject "when=" counts them, the start of its arguments)."""

import re


def write_back_steps(log_text, traced):
    counts, steps, started = {}, [], False
    for line in log_text.splitlines():
        match = re.match(r"\d+\s+(\w+)\((.*)", line)
        if not match or match.group(1) not in traced:
            continue
        name = match.group(1)
        counts[name] = counts.get(name, 0) + 1
        started = started or (name == "openat" and ".tolvanik-" in match.group(2))
        if started:
            steps.append((name, counts[name], match.group(2)[:60]))
    return steps
