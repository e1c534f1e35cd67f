"""The command line of quillfen-cluster, read and checked as quillfen-batch reads its own."""

import os
from dataclasses import dataclass, field

DEFAULT_TASK_SIZE = 200
MAX_TASK_SIZE = 100_000
MAX_WORKERS = 1024

USAGE = """\
usage: quillfen-cluster --out DIR [--scheduler ADDRESS] [--format bmp|jpg|original]
                        [--quality N] [--manifest FILE.csv|FILE.json] [--cell-pictures]
                        [--quiet] PATH...
Try 'quillfen-cluster --help' for more.
"""

HELP = """\
usage: quillfen-cluster --out DIR [OPTIONS] PATH...

Takes every picture out of spreadsheet workbooks on a Dask cluster, and gives exactly what
one quillfen-batch run over the same list gives: the same files under the same names, the
same manifest, lines, summary and exit status. A PATH is a workbook or a folder, walked here
by quillfen-batch's rules; "-" reads more paths from standard input, one per line or
separated by NUL characters. The list is cut into tasks of a few hundred workbooks in input
order; each task runs quillfen-batch on a worker, into a folder of its own beside the
output, and this program gives every picture its name by the clash rule over the whole run
and moves the files in place. Inputs and the output folder must be on a file system every
worker sees at the same path (NFS, CephFS, a mounted object store).

Options:
  -o, --out DIR           write the pictures into DIR (made when missing)
  -f, --format FORMAT     jpg (the default), bmp or original, as quillfen-batch takes it
      --quality N         JPEG quality from 0 to 100 (default 85)
      --manifest FILE     also write FILE, a .csv or .json table with one row per picture,
                          as quillfen-batch writes it
      --cell-pictures     also take the pictures placed in cells, as quillfen-batch takes
                          them with the same option
      --scheduler ADDRESS run on the Dask cluster whose scheduler is at ADDRESS
                          (tcp://host:8786); without it, on a local cluster of this machine
      --workers N         the local cluster's number of worker processes (default: sized to
                          the machine by Dask)
      --task-size N       workbooks per task (default 200; fewer when the list is short, so
                          every worker gets several)
  -q, --quiet             no progress line and no summary; problems are still reported
  -h, --help              this text
  -V, --version           the version

How long the scheduler is tried is Dask's setting distributed.comm.timeouts.connect
(environment DASK_DISTRIBUTED__COMM__TIMEOUTS__CONNECT, 30s by default). Dask's own log (a
worker lost and restarted...) is kept off the terminal; set DASK_LOGGING__DISTRIBUTED=info
(Dask's setting) to see it, from this host and a local cluster's workers.

Exit status: 0 every picture written; 1 a workbook, a picture, a file or a task failed;
2 bad usage, or the scheduler cannot be reached; 130 interrupted (Ctrl-C): the tasks are
cancelled, the files merged so far stay, no file is left half written.

Examples:
  dask scheduler &                       # on one host
  dask worker tcp://head:8786 &          # on each host
  quillfen-cluster --scheduler tcp://head:8786 --out /srv/share/pictures /srv/share/archive
  quillfen-cluster --manifest out/m.csv --out out ~/Reports
"""


class UsageError(Exception):
    pass


@dataclass
class Options:
    out: str = ""
    format: str = "jpg"
    quality: int = 85
    manifest: str = ""
    cell_pictures: bool = False
    scheduler: str = ""
    workers: int = 0  # 0: Dask's own sizing
    task_size: int = DEFAULT_TASK_SIZE
    quiet: bool = False
    help: bool = False
    version: bool = False
    paths: list = field(default_factory=list)  # as bytes


def _whole_number(text, name, low, high, what):
    if text.isascii() and text.isdigit() and low <= int(text) <= high:
        return int(text)
    raise UsageError(f"{name} is {what}, not '{text}'")


def parse(arguments):
    """The options, or UsageError with the reason the command line is not one the tool takes."""
    o = Options()
    done = False
    i = 0
    while i < len(arguments):
        a = arguments[i]
        i += 1
        if done or a == "-" or not a.startswith("-"):
            o.paths.append(os.fsencode(a))
            continue
        name, attached = a, None
        if a.startswith("--"):
            if "=" in a:
                name, attached = a.split("=", 1)
        elif len(a) > 2:
            name, attached = a[:2], a[2:]

        def value():
            nonlocal i
            if attached is not None:
                return attached
            if i < len(arguments):
                i += 1
                return arguments[i - 1]
            raise UsageError(f"{name} needs a value")

        def flag():
            if attached is not None:
                raise UsageError(f"{name} takes no value")
            return True

        if name == "--":
            done = True
        elif name == "--cell-pictures":
            o.cell_pictures = flag()
        elif name in ("--quiet", "-q"):
            o.quiet = flag()
        elif name in ("--help", "-h"):
            o.help = flag()
        elif name in ("--version", "-V"):
            o.version = flag()
        elif name in ("--out", "-o"):
            o.out = value()
            if not o.out:
                raise UsageError("--out needs a folder")
        elif name in ("--format", "-f"):
            v = value()
            if v not in ("bmp", "jpg", "jpeg", "original"):
                raise UsageError(f"--format is bmp, jpg or original, not '{v}'")
            o.format = "jpg" if v == "jpeg" else v
        elif name == "--quality":
            o.quality = _whole_number(value(), "--quality", 0, 100, "a whole number from 0 to 100")
        elif name == "--manifest":
            o.manifest = value()
            if not o.manifest.lower().endswith((".csv", ".json")):
                raise UsageError("--manifest wants a file name ending in .csv or .json")
        elif name == "--scheduler":
            o.scheduler = value()
            if not o.scheduler:
                raise UsageError("--scheduler needs an address")
        elif name == "--workers":
            o.workers = _whole_number(value(), "--workers", 1, MAX_WORKERS,
                                      f"a number of worker processes from 1 to {MAX_WORKERS}")
        elif name == "--task-size":
            o.task_size = _whole_number(value(), "--task-size", 1, MAX_TASK_SIZE,
                                        f"a number of workbooks from 1 to {MAX_TASK_SIZE}")
        else:
            raise UsageError(f"unknown option {a}")
    if o.help or o.version:
        return o
    if not o.paths:
        raise UsageError("no workbook or folder given")
    if not o.out:
        raise UsageError("--out is needed: the folder the pictures are written to")
    if o.scheduler and o.workers:
        raise UsageError("--workers sizes the local cluster: leave it out with --scheduler")
    return o
