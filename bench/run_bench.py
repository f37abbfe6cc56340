#!/usr/bin/env python3
"""Times quorvel against GNU du, ncdu and gdu on the generated trees and prints one table each.

For every command: the median wall time of hyperfine (warm cache, after warm-up runs), its
ratio to `du -s`, the mean CPU time (user + system) and its ratio to `du -s`, the peak memory
by /usr/bin/time -v (median of three runs) and the system calls per entry of the tree by
strace -c -f.

All the commands of a tree are timed by the same hyperfine invocations, and the runs are made
in rounds (each round runs every command a few times after one warm-up run), so that a load
that comes and goes on the machine weighs on every command alike and the ratios stay fair.
"""
import argparse
import datetime
import json
import os
import platform
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def tool_version(cmd):
    try:
        out = subprocess.run(cmd, capture_output=True, text=True, timeout=30)
        text = (out.stdout or out.stderr).strip().splitlines()
        return text[0] if text else "?"
    except OSError:
        return "missing"


def machine():
    cpu = "?"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    mem = "?"
    try:
        with open("/proc/meminfo") as f:
            kb = int(f.readline().split()[1])
            mem = "%.0f GiB" % (kb / 1024 / 1024)
    except (OSError, ValueError, IndexError):
        pass
    return "%s, %d cores, %s, Linux %s" % (cpu, os.cpu_count() or 0, mem, platform.release())


def filesystem(path):
    out = subprocess.run(["df", "-T", path], capture_output=True, text=True).stdout.splitlines()
    return out[-1].split()[1] if len(out) > 1 else "?"


THREAD_COUNTS = (1, 2, 4, 8, 16)


def commands(quorvel, tree, threads, extra, dumps=None):
    """(label, argv, env) for every command measured on a tree. threads: the QUORVEL_THREADS
    values that get a row of their own beside the default. dumps: (a saved scan of the tree
    to report from, a file to save to), for the rows of saved scans, which compare with the
    one-thread scan."""
    rows = [("quorvel -p", [quorvel, "-p", tree], {})]
    rows += [("quorvel -p, %d thread%s" % (n, "" if n == 1 else "s"), [quorvel, "-p", tree],
              {"QUORVEL_THREADS": str(n)}) for n in threads]
    if dumps:
        rows += [
            ("quorvel -p -save, 1 thread", [quorvel, "-p", "-save=" + dumps[1], tree],
             {"QUORVEL_THREADS": "1"}),
            ("quorvel -p -from (its dump)", [quorvel, "-p", "-from=" + dumps[0]], {}),
        ]
    rows += [
        ("du -s --apparent-size", ["du", "-s", "--apparent-size", tree], {}),
        ("du -s", ["du", "-s", tree], {}),
        ("ncdu -0 -o /dev/null", ["ncdu", "-0", "-o", "/dev/null", tree], {}),
        # gdu at its own parallelism, as a user runs it.
        ("gdu -n -p", ["gdu", "-n", "-p", tree], {}),
    ]
    if extra:
        rows.append(("quorvel -p -1", [quorvel, "-p", "-1", tree], {}))
        rows.append(("quorvel -p -size=1G", [quorvel, "-p", "-size=1G", tree], {}))
    return rows


def shell_line(argv, env):
    # hyperfine runs each command without a shell; an environment setting goes through env(1)
    # so the line stays one exec.
    prefix = ["env"] + ["%s=%s" % kv for kv in sorted(env.items())] if env else []
    return " ".join(shlex.quote(a) for a in prefix + argv)


def hyperfine_once(rows, runs, warmup, prepare, live=False):
    with tempfile.NamedTemporaryFile(suffix=".json", delete=False) as f:
        out = f.name
    cmd = ["hyperfine", "-N", "--style", "none", "--warmup", str(warmup), "--runs", str(runs),
           "--export-json", out]
    if prepare:
        cmd += ["--prepare", prepare]
    if live:
        # A tree in use changes under the commands: du exits 1 for a file that went away,
        # quorvel for a directory it could not read. The time is still the time.
        cmd.append("--ignore-failure")
    for label, argv, env in rows:
        cmd += ["-n", label, shell_line(argv, env)]
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(out) as f:
        results = json.load(f)["results"]
    os.unlink(out)
    return {r["command"]: r for r in results}


def hyperfine(rows, runs, warmup, rounds, prepare=None, live=False):
    """{label: {"median": s, "user": s, "system": s, "runs": n}} over all rounds."""
    per_round = max(2, -(-runs // rounds))
    times = {label: [] for label, _, _ in rows}
    cpu = {label: [0.0, 0.0] for label, _, _ in rows}
    for k in range(rounds):
        # The first round has the full warm-up; later ones one run each to refill the caches
        # that the other commands may have pushed out.
        r = hyperfine_once(rows, per_round, warmup if k == 0 else min(warmup, 1), prepare, live)
        for label in times:
            times[label] += r[label]["times"]
            cpu[label][0] += r[label]["user"] * len(r[label]["times"])
            cpu[label][1] += r[label]["system"] * len(r[label]["times"])
    return {label: {"median": statistics.median(t), "user": cpu[label][0] / len(t),
                    "system": cpu[label][1] / len(t), "runs": len(t)}
            for label, t in times.items()}


def peak_memory_kb(argv, env):
    values = []
    for _ in range(3):
        p = subprocess.run(["/usr/bin/time", "-v"] + argv, env=dict(os.environ, **env),
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        for line in p.stderr.splitlines():
            if "Maximum resident set size" in line:
                values.append(int(line.rsplit(":", 1)[1]))
    return statistics.median(values)


def browse_peak_kb(argv, env, ready, runs=3):
    """The peak memory of an interactive program browsing a tree in a tmux terminal of 100x30:
    started under /usr/bin/time, left when its first screen shows `ready`, with q. The median
    of `runs`; None without tmux or when the screen never came."""
    if not shutil.which("tmux"):
        return None
    values = []
    for _ in range(runs):
        with tempfile.TemporaryDirectory() as work:
            out = os.path.join(work, "time")
            # A server of its own, which ends with the session.
            tmux = ["tmux", "-L", "quorvel-bench-" + os.path.basename(work)]
            session = "browse"
            line = " ".join(shlex.quote(a) for a in ["env"] + ["%s=%s" % kv for kv in env.items()] +
                            ["/usr/bin/time", "-f", "%M", "-o", out] + argv)
            subprocess.run(tmux + ["new-session", "-d", "-s", session, "-x", "100", "-y", "30",
                            line + "; sleep 2"], check=True)
            try:
                end = time.time() + 600
                while time.time() < end:
                    screen = subprocess.run(tmux + ["capture-pane", "-p", "-t", session],
                                            capture_output=True, text=True).stdout
                    if ready in screen:
                        break
                    time.sleep(0.2)
                else:
                    return None
                subprocess.run(tmux + ["send-keys", "-t", session, "q"], check=True)
                while time.time() < end and not (os.path.exists(out) and os.path.getsize(out)):
                    time.sleep(0.1)
                with open(out) as f:
                    values.append(int(f.read().split()[-1]))
            finally:
                subprocess.run(tmux + ["kill-server"], stderr=subprocess.DEVNULL)
    return statistics.median(values)


def browse_table(quorvel, trees):
    """Peak memory while browsing, against the peers' browsers, on /usr and on the million-file
    tree where it was made: its title, head and rows."""
    places = [("/usr", "/usr")]
    million = os.path.abspath(os.path.join(trees, "million"))
    if os.path.isdir(million):
        places.append(("million tree", million))
    rows = [("quorvel -browse", lambda p: [quorvel, p, "-browse"], {}, "? help"),
            ("quorvel -browse, 1 thread", lambda p: [quorvel, p, "-browse"],
             {"QUORVEL_THREADS": "1"}, "? help"),
            ("ncdu -x", lambda p: ["ncdu", "-x", p], {}, "Total disk usage"),
            ("gdu -x", lambda p: ["gdu", "-x", p], {}, "Total disk usage")]
    table = []
    for label, argv, env, ready in rows:
        if not shutil.which(argv("/")[0]):
            continue
        cells = [label]
        for _, place in places:
            kb = browse_peak_kb(argv(place), env, ready)
            cells.append("-" if kb is None else "%.1f MB" % (kb / 1000))
        table.append(cells)
    title = "peak memory while browsing (tmux 100x30, first screen, then q; median of 3)"
    return title, ["browser"] + [name for name, _ in places], table


def format_browse_table(title, head, table, markdown):
    if markdown:
        lines = ["**%s**" % title, "", "| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
        lines += ["| " + " | ".join(r) + " |" for r in table]
    else:
        widths = [max(len(r[i]) for r in [head] + table) for i in range(len(head))]
        lines = [title] + ["  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip()
                           for r in [head] + table]
    return "\n".join(lines) + "\n"


def system_calls(argv, env):
    with tempfile.NamedTemporaryFile(suffix=".strace", delete=False) as f:
        out = f.name
    subprocess.run(["strace", "-c", "-f", "-o", out] + argv, env=dict(os.environ, **env),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    total = None
    with open(out) as f:
        for line in f:
            parts = line.split()
            if parts and parts[-1] == "total":
                total = int(parts[3])
    os.unlink(out)
    return total


def scan_thread_share(argv, env):
    """The share of the scan's own thread in the CPU time of all the program's threads: what
    bounds the speed-up of more reading threads on more cores. Read from /proc while it runs."""
    p = subprocess.Popen(argv, env=dict(os.environ, **env), stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    seen = {}
    while p.poll() is None:
        try:
            for tid in os.listdir("/proc/%d/task" % p.pid):
                with open("/proc/%d/task/%s/stat" % (p.pid, tid)) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                seen[int(tid)] = int(fields[11]) + int(fields[12])
        except (OSError, IndexError, ValueError):
            pass
    total = sum(seen.values())
    return seen.get(p.pid, 0) / total if total else None


def measure(tree_name, tree, info, rows, args, prepare=None, live=False):
    if prepare:
        timing = hyperfine(rows, args.cold_runs, 0, 1, prepare)
    else:
        timing = hyperfine(rows, args.runs, args.warmup, args.rounds, live=live)
    table = []
    for label, argv, env in rows:
        r = timing[label]
        table.append({
            "tool": label,
            "median": r["median"],
            "cpu": r["user"] + r["system"],
            "memory": None if prepare else peak_memory_kb(argv, env),
            "calls": None if prepare or not info.get("entries") else system_calls(argv, env),
        })
    du = next(t for t in table if t["tool"] == "du -s")
    for t in table:
        t["ratio"] = t["median"] / du["median"]
        t["cpu_ratio"] = t["cpu"] / du["cpu"]
        t["runs"] = timing[t["tool"]]["runs"]
        t["per_entry"] = t["calls"] / info["entries"] if t["calls"] else None
    return table


def wine_rows(wine, exe, tree_name, path):
    """(label, argv, env) of the Windows program under Wine: one thread and the default."""
    return [("quorvel.exe -p %s%s" % (tree_name, label), [wine, exe, "-p", path], env)
            for label, env in ((", 1 thread", {"QUORVEL_THREADS": "1"}), ("", {}))]


def wine_tables(args):
    """The Windows program under Wine on the typical tree (and /usr, as Z:\\usr), one thread
    against the default: Wine's figures, which say how the threads behave, not what Windows
    takes. The prefix is the benchmark's own, its server kept running so that no run pays for
    starting it."""
    exe = os.path.abspath(args.wine_quorvel)
    prefix = os.path.join(os.path.dirname(exe), "bench-wineprefix")
    os.environ.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    subprocess.run([args.wine, "cmd", "/c", "exit"], timeout=300, **quiet)
    subprocess.run(["wineserver", "-p600"], **quiet)
    subprocess.run([args.wine, "cmd", "/c", "exit"], timeout=300, **quiet)
    places = []
    if "typical" in args.only:
        places.append(("typical", "Z:" + os.path.abspath(os.path.join(args.trees, "typical"))))
    if os.path.isdir("/usr"):
        places.append(("/usr", "Z:\\usr"))
    out = []
    for name, path in places:
        rows = wine_rows(args.wine, exe, name, path.replace("/", "\\"))
        timing = hyperfine(rows, args.runs, args.warmup, args.rounds)
        one = timing[rows[0][0]]["median"]
        head = ["tool", "median wall", "ratio to 1 thread", "CPU (user+sys)"]
        lines = [[label, "%.3f s" % timing[label]["median"],
                  "%.2f" % (timing[label]["median"] / one),
                  "%.3f s" % (timing[label]["user"] + timing[label]["system"])]
                 for label, _, _ in rows]
        title = ("Windows build under Wine, %s (Wine's figures, not Windows': every call goes "
                 "through Wine and its server)" % name)
        out.append((title, head, lines))
    return out


def format_wine_tables(tables, markdown):
    texts = []
    for title, head, lines in tables:
        if markdown:
            t = ["**%s**" % title, "", "| " + " | ".join(head) + " |",
                 "|" + "|".join("---" if i == 0 else "---:" for i in range(len(head))) + "|"]
            t += ["| " + " | ".join(l) + " |" for l in lines]
        else:
            widths = [max(len(r[i]) for r in [head] + lines) for i in range(len(head))]
            fmt = lambda r: "  ".join(c.ljust(widths[0]) if i == 0 else c.rjust(widths[i])
                                      for i, c in enumerate(r))
            t = [title, fmt(head), "  ".join("-" * w for w in widths)] + [fmt(l) for l in lines]
        texts.append("\n".join(t) + "\n")
    return texts


def format_table(title, table, markdown):
    head = ["tool", "median wall", "ratio to du -s", "CPU (user+sys)", "CPU ratio",
            "peak memory", "syscalls/entry"]
    lines = []
    for t in table:
        lines.append([
            t["tool"],
            "%.3f s" % t["median"],
            "%.2f" % t["ratio"],
            "%.3f s" % t["cpu"],
            "%.2f" % t["cpu_ratio"],
            "%.1f MB" % (t["memory"] / 1024) if t["memory"] else "-",
            "%.2f" % t["per_entry"] if t["per_entry"] else "-",
        ])
    if markdown:
        out = ["**%s**" % title, "", "| " + " | ".join(head) + " |",
               "|" + "|".join("---" if i == 0 else "---:" for i in range(len(head))) + "|"]
        out += ["| " + " | ".join(l) + " |" for l in lines]
        return "\n".join(out) + "\n"
    widths = [max(len(r[i]) for r in [head] + lines) for i in range(len(head))]
    fmt = lambda r: "  ".join(c.ljust(widths[0]) if i == 0 else c.rjust(widths[i])
                              for i, c in enumerate(r))
    out = [title, fmt(head), "  ".join("-" * w for w in widths)] + [fmt(l) for l in lines]
    return "\n".join(out) + "\n"


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quorvel", required=True, help="the native quorvel program")
    ap.add_argument("--trees", required=True, help="folder for the generated trees")
    ap.add_argument("--runs", type=int, default=10)
    ap.add_argument("--warmup", type=int, default=3)
    ap.add_argument("--rounds", type=int, default=5,
                    help="the runs are split into this many rounds of every command")
    ap.add_argument("--no-cold", dest="cold", action="store_false",
                    help="leave out the typical tree with the page cache dropped before each run")
    ap.add_argument("--cold-runs", type=int, default=5)
    ap.add_argument("--no-browse", dest="browse", action="store_false",
                    help="leave out the peak memory of browsing /usr and the million tree")
    ap.add_argument("--paging", help="the paging benchmark program, run after the trees")
    ap.add_argument("--markdown", help="also write the tables in Markdown to this file")
    ap.add_argument("--no-root", dest="root", action="store_false",
                    help="leave out the machine's own / (timed only when run as root)")
    ap.add_argument("--wine-quorvel",
                    help="the Windows quorvel.exe, timed under Wine after the trees")
    ap.add_argument("--wine", default="wine", help="the Wine loader (default: wine)")
    ap.add_argument("--wine-only", action="store_true",
                    help="time only the Windows program under Wine")
    ap.add_argument("only", nargs="*",
                    default=["typical", "wide", "deep", "million", "many", "huge"])
    args = ap.parse_args()

    quorvel = os.path.abspath(args.quorvel)
    subprocess.run([sys.executable, os.path.join(HERE, "make_trees.py"), args.trees] + args.only,
                   check=True, stdout=subprocess.DEVNULL)
    # Stored defaults and the environment variable must not change what is measured.
    config = tempfile.mkdtemp(prefix="quorvel-bench-")
    os.environ["XDG_CONFIG_HOME"] = config
    os.environ.pop("QUORVEL", None)

    header = [
        "date: %s" % datetime.datetime.now().strftime("%Y-%m-%d %H:%M"),
        "machine: %s" % machine(),
        "file system of the trees: %s; warm page cache; at least %d runs of each command in %d "
        "rounds, after %d warm-up runs" % (filesystem(args.trees), args.runs, args.rounds,
                                            args.warmup),
        "peers: %s; %s; gdu %s; %s" % (
            tool_version(["du", "--version"]), tool_version(["ncdu", "-v"]),
            tool_version(["gdu", "-v"]).split()[-1], tool_version(["hyperfine", "--version"])),
        "load average before the run: %.2f %.2f %.2f" % os.getloadavg(),
    ]
    print("\n".join(header) + "\n", flush=True)
    text = ["- " + h for h in header] + [""]
    if args.wine_only:
        tables = wine_tables(args) if args.wine_quorvel else []
        for t in format_wine_tables(tables, False):
            print(t, flush=True)
        if args.markdown:
            with open(args.markdown, "w") as f:
                f.write("\n".join(text + format_wine_tables(tables, True)))
        return
    for name in args.only:
        tree = os.path.abspath(os.path.join(args.trees, name))
        with open(os.path.join(args.trees, name + ".json")) as f:
            info = json.load(f)
        title = "%s tree: %d directories, %d files (%d entries)" % (
            name, info["directories"], info["files"], info["entries"])
        threads = THREAD_COUNTS if name == "typical" else (1,)
        # The dump -from reads, made once; -save writes another, over and over.
        dumps = (os.path.abspath(os.path.join(args.trees, name + ".from.json")),
                 os.path.abspath(os.path.join(args.trees, name + ".save.json")))
        subprocess.run([quorvel, "-p", "-save=" + dumps[0], tree], check=True,
                       stdout=subprocess.DEVNULL)
        table = measure(name, tree, info,
                        commands(quorvel, tree, threads, name == "typical", dumps), args)
        share = scan_thread_share([quorvel, "-p", tree], {})
        if share is not None:
            title += "; the scan's thread did %.0f%% of quorvel's CPU time" % (100 * share)
        print(format_table(title, table, False), flush=True)
        text.append(format_table(title, table, True))
    if args.root and os.geteuid() == 0:
        # The machine's own disk, one file system, as a user would try it first.
        rows = [("quorvel -p /", [quorvel, "-p", "/"], {}),
                ("quorvel -p /, 1 thread", [quorvel, "-p", "/"], {"QUORVEL_THREADS": "1"}),
                ("du -s", ["du", "-sx", "/"], {}),
                ("ncdu -x -0 -o /dev/null /", ["ncdu", "-x", "-0", "-o", "/dev/null", "/"], {}),
                ("gdu -x -n -p /", ["gdu", "-x", "-n", "-p", "/"], {})]
        table = measure("root", "/", {}, rows, args, live=True)
        share = scan_thread_share([quorvel, "-p", "/"], {})
        title = "the machine's / (one file system; du -s is du -sx /)"
        if share is not None:
            title += "; the scan's thread did %.0f%% of quorvel's CPU time" % (100 * share)
        print(format_table(title, table, False), flush=True)
        text.append(format_table(title, table, True))
    if args.browse:
        browsing = browse_table(quorvel, args.trees)
        print(format_browse_table(*browsing, False), flush=True)
        text.append(format_browse_table(*browsing, True))
    if args.cold:
        name = "typical"
        tree = os.path.abspath(os.path.join(args.trees, name))
        with open(os.path.join(args.trees, name + ".json")) as f:
            info = json.load(f)
        rows = [r for r in commands(quorvel, tree, THREAD_COUNTS + (32,), False)
                if r[0].startswith("quorvel") or r[0] == "du -s"]
        if os.geteuid() == 0:
            title = "typical tree, cold cache (page cache dropped before each run, %d runs)" % (
                args.cold_runs)
            prepare = "sh -c 'sync; echo 3 > /proc/sys/vm/drop_caches'"
        else:
            title = ("typical tree, NOT cold: not run as root, so the page cache could not be "
                     "dropped (%d runs)" % args.cold_runs)
            prepare = "true"
        table = measure(name, tree, info, rows, args, prepare=prepare)
        print(format_table(title, table, False), flush=True)
        text.append(format_table(title, table, True))
    if args.wine_quorvel:
        tables = wine_tables(args)
        for t in format_wine_tables(tables, False):
            print(t, flush=True)
        text += format_wine_tables(tables, True)
    if args.paging:
        p = subprocess.run([args.paging, "--benchmark_min_time=1"], capture_output=True,
                           text=True)
        print(p.stdout, flush=True)
        text += ["**paging**", "", "```", p.stdout.strip(), "```", ""]
    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write("\n".join(text))


if __name__ == "__main__":
    main()
