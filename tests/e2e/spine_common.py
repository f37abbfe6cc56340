"""Pieces shared by the spine's end-to-end tests: the report's lines as the program writes them,
figures computed from a cluster size, and runs with a fixed locale."""
import os
import sys

sys.path.insert(0, os.path.dirname(__file__))
import harness as h

TITLE = b"Quorvel report, created at "
HEADER = b" Total-no subs  Wstd  Files  Directory name   [dir + subdirs total]"
RULE = b"-" * 14 + b"  " + b"-" * 4 + b"  " + b"-" * 5 + b"  " + b"-" * 40
NOT_FOUND = b"Path was not found (maximum path length exceeded?): "
# A fixed locale: "," between thousands, and UTF-8 names that Wine can read from Linux.
LOCALE = {"LC_ALL": "C.UTF-8", "LANG": "C.UTF-8"}


def run(args, **kw):
    extra = dict(LOCALE)
    extra.update(kw.pop("extra_env", {}) or {})
    return h.run(args, extra_env=extra, **kw)


def shown(path):
    return h.shown(path).encode("utf-8")


def sep():
    return h.SEP.encode()


def thousands(n):
    return ("{:,}".format(n)).encode()


def percent(part, whole):
    if whole == 0:
        return b"0%"
    r = round(part * 100 / whole)
    return b"100%" if r >= 100 else ("%3d%%" % r).encode()


def line(local, waste, files, tree, total=None):
    """One directory line with every column on, in the percent form."""
    out = thousands(local).rjust(14) + b"  " + percent(waste, local).rjust(4) + b"  " + \
        thousands(files).rjust(5) + b"  " + tree
    if total is not None:
        out += b"   [" + thousands(total) + b"]"
    return out


def totals(grand, waste, files, cluster):
    return thousands(grand).rjust(14) + b"  " + percent(waste, grand).rjust(4) + b"  " + \
        thousands(files).rjust(5) + b"  Cluster size: " + thousands(cluster) + \
        b"  Wastage: " + thousands(waste)


class Parsed:
    """The pieces of a redirected run's output: what came before the title (the banner), the
    lines between the title and the report (messages), the report, and the last line."""

    def __init__(self, stdout):
        self.all = h.lines(stdout)
        titles = [i for i, l in enumerate(self.all) if l.startswith(TITLE)]
        assert len(titles) == 1, "expected one title line: %r" % self.all[:6]
        t = titles[0]
        self.before_title = self.all[:t]
        assert self.all[t + 1] == b"", "no empty line after the title"
        rest = self.all[t + 2:]
        self.last = rest[-1] if rest else None
        body = rest[:-1]
        if HEADER in body:
            k = body.index(HEADER)
            self.messages, self.report = body[:k], body[k:]
        else:
            self.messages, self.report = body, []

    def tree(self):
        """The directory lines: from the root's line to the rule before the totals."""
        end = self.report.index(RULE, 2)
        return self.report[2:end]

    def footer(self):
        return self.report[self.report.index(RULE, 2):]


def round_up(size, cluster):
    return h.round_up(size, cluster)
