"""quillfen-cluster's client: walks the inputs, cuts the list into tasks, runs them on a Dask
cluster and hands each finished part, in input order, to the merge (quillfen-batch --merge),
which names every picture over the whole run and tells what one run would tell."""

import importlib.util
import logging
import math
import os
import secrets
import shutil
import signal
import subprocess
import sys
import threading
import time
import urllib.request

from . import options as cli
from . import tasks
from .progress import Terminal

PROGRAM = "quillfen-cluster"
EXIT_FAILED, EXIT_USAGE, EXIT_INTERRUPTED = 1, 2, 130
# A short list still gives every worker thread several tasks, so the last task to finish leaves
# the others idle for a short while only.
TASKS_PER_THREAD = 8
# Tasks handed to the scheduler ahead of the workers: enough that none waits for the client,
# few enough that a list of millions is not held twice.
AHEAD_PER_THREAD = 4
AHEAD_LEAST = 16
THREADS_ASKED_EVERY = 1.0  # seconds: workers may join a running cluster
STOP_WAIT_SECONDS = 5.0
DASHBOARD_WAIT_SECONDS = 1.0
# Dask's own setting for its log. Set by the user, Dask's log reaches the terminal as Dask
# writes it; otherwise it is kept off, in this process and in the local workers.
DASK_LOG_SETTING = "DASK_LOGGING__DISTRIBUTED"
# The loggers the cluster's machinery writes to in this process: the scheduler and the nannies
# of a local cluster, the client, and the event loop beneath them.
DASK_LOGGERS = ("distributed", "tornado", "asyncio", "bokeh")


def display(text):
    """A path as quillfen-batch's messages show it: bytes that are not UTF-8 and control
    characters as \\xNN."""
    raw = os.fsencode(text) if isinstance(text, str) else text
    out = []
    for ch in raw.decode("utf-8", errors="surrogateescape"):
        code = ord(ch)
        if 0xDC80 <= code <= 0xDCFF:
            out.append(f"\\x{code - 0xDC00:02X}")
        elif code < 0x20 or code == 0x7F:
            out.append(f"\\x{code:02X}")
        else:
            out.append(ch)
    return "".join(out)


def message(text):
    sys.stderr.buffer.write(f"{PROGRAM}: {text}\n".encode(errors="surrogateescape"))
    sys.stderr.buffer.flush()


def keep_dask_log_off_the_terminal():
    """Dask's notes (a worker lost and restarted, a slow event loop, a connection closed while
    the cluster shuts down) are the cluster's business, not this program's messages, which say
    what became of every workbook and task. Called after Dask is imported: its import sets up
    its own handlers."""
    for name in DASK_LOGGERS:
        logger = logging.getLogger(name)
        for handler in list(logger.handlers):
            logger.removeHandler(handler)
        # A logger with no handler at all would still reach standard error through logging's
        # last resort.
        logger.addHandler(logging.NullHandler())
        logger.propagate = False


def started_without_stderr(start):
    """Calls start with standard error on /dev/null, so the processes it starts, and those they
    fork, keep their notes off this program's standard error."""
    sys.stderr.flush()
    saved = os.dup(2)
    null = os.open(os.devnull, os.O_WRONLY)
    try:
        os.dup2(null, 2)
        start()
    finally:
        os.dup2(saved, 2)
        os.close(saved)
        os.close(null)


def task_size(workbooks, threads, largest):
    return max(1, min(largest, math.ceil(workbooks / (threads * TASKS_PER_THREAD))))


def failure_text(exception):
    name = type(exception).__name__
    if name == "PartFailed":
        return str(exception)
    if name == "KilledWorker":
        return "the workers running it were lost again and again (does it crash them, or run " \
               "them out of memory?)"
    return f"{name}: {exception}"


class Run:
    def __init__(self, options, batch):
        self.o = options
        self.batch = batch
        self.client = None
        self.cluster = None
        self.merger = None
        self.forwarder = None
        self.folder = None
        self.futures = {}
        self.token = secrets.token_hex(6)
        self.terminal = None
        self.local_dashboard = False

    # --- the steps, in the order a run takes them

    def walk(self):
        """Starts quillfen-batch --walk; its list is read while the cluster starts."""
        reads_stdin = b"-" in self.o.paths
        process = subprocess.Popen([self.batch, "--walk", "--"] + self.o.paths,
                                   stdin=None if reads_stdin else subprocess.DEVNULL,
                                   stdout=subprocess.PIPE)
        chunks = []
        reader = threading.Thread(target=lambda: chunks.append(process.stdout.read()),
                                  daemon=True)
        reader.start()

        def finish():
            reader.join()
            status = process.wait()
            return status, (chunks[0].split(b"\0")[:-1] if chunks else [])

        return process, finish

    def connect(self):
        import multiprocessing.forkserver

        import dask
        from distributed import Client, LocalCluster
        from distributed.comm import resolve_address
        from distributed.utils import get_mp_context

        dask_log = DASK_LOG_SETTING in os.environ
        if not dask_log:
            keep_dask_log_off_the_terminal()
        if self.o.scheduler:
            # A malformed or unknown address is told here: a Client that fails on one spends a
            # minute closing itself when it is collected.
            resolve_address(self.o.scheduler)
            self.client = Client(self.o.scheduler, set_as_default=False)
            return
        # The dashboard needs the plotting library; Debian 12 does not package it.
        self.local_dashboard = importlib.util.find_spec("bokeh") is not None
        # Worker processes fork from one that has Dask loaded already: they start in a second
        # or two instead of several, and a worker that is lost comes back as quickly.
        dask.config.set({"distributed.worker.multiprocessing-method": "forkserver"})
        get_mp_context()
        # That server, and so every worker, ignores Ctrl-C: the terminal sends it to this whole
        # process group, and it is this program's to handle, by cancelling the run. Unless
        # Dask's log is asked for, it has no standard error either: the workers' notes (a stale
        # work folder purged, a task's peer lost) and anything else they print stay off the
        # terminal; what became of a task is told by this program.
        previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
        try:
            if dask_log:
                multiprocessing.forkserver.ensure_running()
            else:
                os.environ[DASK_LOG_SETTING] = "error"  # less to write to nowhere
                started_without_stderr(multiprocessing.forkserver.ensure_running)
        finally:
            signal.signal(signal.SIGINT, previous)
        self.cluster = LocalCluster(
            n_workers=self.o.workers or None,
            threads_per_worker=1 if self.o.workers else None,
            # Any free port: the address is printed, and a second run beside this one must not
            # meet a port that is taken.
            processes=True, dashboard_address=":0",
            silence_logs=False if dask_log else logging.ERROR)
        self.client = Client(self.cluster, set_as_default=False)

    def dashboard(self):
        """The dashboard's address when it shows anything: a scheduler without the plotting
        library it needs still lists one, which answers every page with "not found"."""
        if self.cluster and not self.local_dashboard:
            return None
        if "dashboard" not in self.client.scheduler_info().get("services", {}):
            return None
        link = self.client.dashboard_link
        try:
            with urllib.request.urlopen(link, timeout=DASHBOARD_WAIT_SECONDS):
                return link
        except (OSError, ValueError):
            return None

    def make_folders(self):
        out = self.o.out
        try:
            os.makedirs(out, exist_ok=True)
            if not os.path.isdir(out):
                raise NotADirectoryError(20, "it is not a folder")
            # The parts live beside the pictures, on the same file system, so the merge only
            # renames. Made as any new folder is made, so workers running as another user of
            # the group can write there when the umask lets them.
            self.folder = os.path.join(os.path.abspath(out), f".quillfen-cluster-{self.token}")
            os.mkdir(self.folder, 0o777)
        except OSError as e:
            message(f"cannot make the output folder '{display(out)}': {e.strerror}")
            return False
        return True

    def start_merge(self, workbooks):
        command = [self.batch, "--merge", "--out", self.o.out, "--workbooks", str(workbooks)]
        if self.o.manifest:
            command += ["--manifest", self.o.manifest]
        if self.o.quiet:
            command.append("--quiet")
        # Its own session: a Ctrl-C reaches it from this program, once the tasks are stopped.
        self.merger = subprocess.Popen(command + ["-"], stdin=subprocess.PIPE,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                       start_new_session=True)

        def forward():
            for line in self.merger.stderr:
                if line.startswith(b"quillfen-batch: "):
                    line = f"{PROGRAM}: ".encode() + line[len(b"quillfen-batch: "):]
                self.terminal.line(line)

        self.forwarder = threading.Thread(target=forward, daemon=True)
        self.forwarder.start()

    def merge_part(self, part):
        try:
            self.merger.stdin.write(os.fsencode(os.path.join(self.folder, part)) + b"\0")
            self.merger.stdin.flush()
        except BrokenPipeError:
            pass  # the merge has ended; its exit status says why

    def run_tasks(self, paths):
        """Submits the tasks, a window ahead of the workers, and merges each finished part in
        input order. Returns the number of tasks that failed."""
        import cloudpickle
        from distributed import as_completed

        # Workers need not have this program installed: the task code travels with the task.
        cloudpickle.register_pickle_by_value(tasks)
        threads = max(1, sum(self.client.nthreads().values()))
        size = task_size(len(paths), threads, self.o.task_size)
        ranges = [(first, min(first + size, len(paths))) for first in range(0, len(paths), size)]
        job = vars(tasks.Job(run=self.token, folder=self.folder, cwd=os.getcwd(),
                             batch=self.batch, format=self.o.format, quality=self.o.quality,
                             cell_pictures=self.o.cell_pictures))
        pending = as_completed(loop=self.client.loop)
        submitted = merged = failed = 0
        finished = {}
        asked = time.monotonic()

        def submit_ahead():
            nonlocal submitted, threads, asked
            if time.monotonic() - asked > THREADS_ASKED_EVERY:
                threads = max(1, sum(self.client.nthreads().values()))
                asked = time.monotonic()
            while (submitted < len(ranges) and
                   submitted - len(finished) - merged < AHEAD_PER_THREAD * threads + AHEAD_LEAST):
                first, end = ranges[submitted]
                future = self.client.submit(
                    tasks.run_part, submitted, b"".join(p + b"\0" for p in paths[first:end]),
                    job, key=f"quillfen-part-{self.token}-{submitted}", pure=False,
                    priority=-submitted)
                self.futures[future.key] = (submitted, future)
                pending.add(future)
                submitted += 1

        submit_ahead()
        for future in pending:
            index, _ = self.futures.pop(future.key)
            if future.status == "finished":
                counts = future.result()
                finished[index] = counts["part"]
                self.part_done(counts)
            else:
                first, end = ranges[index]
                try:
                    reason = failure_text(future.exception())
                except Exception as e:  # cancelled, or lost with the scheduler
                    reason = failure_text(e)
                self.terminal.line(
                    f"{PROGRAM}: workbooks {first + 1} to {end} were not done: "
                    f"{reason}\n".encode(errors="surrogateescape"))
                finished[index] = None
                failed += 1
            future.release()
            # Parts go to the merge in input order, whichever finished first.
            while merged in finished:
                part = finished.pop(merged)
                if part is not None:
                    self.merge_part(part)
                merged += 1
            submit_ahead()
        return failed

    def part_done(self, counts):
        """A task's part is whole: its workbooks and pictures count as done."""
        self.terminal.add(counts["workbooks"], counts["written"])

    def cancel(self):
        """Ctrl-C: no new task starts, the parts in progress are stopped, and the merge tells
        what was merged."""
        self.client.cancel([future for _, future in self.futures.values()])

        def stop():
            try:
                self.client.run(tasks.stop_parts, self.token)
            except Exception:
                pass  # a worker that cannot be told is lost, and its parts with it

        # A worker that does not answer does not hold the end of the run.
        stopping = threading.Thread(target=stop, daemon=True)
        stopping.start()
        stopping.join(STOP_WAIT_SECONDS)
        if self.merger and self.merger.poll() is None:
            self.merger.send_signal(signal.SIGINT)

    def finish_merge(self):
        if self.terminal:
            self.terminal.stop()
        if not self.merger:
            return EXIT_FAILED
        try:
            self.merger.stdin.close()
        except OSError:
            pass
        status = self.merger.wait()
        self.forwarder.join()
        return status

    def clean_up(self):
        # A stopped part may still be removing its files: try a few times.
        for _ in range(20):
            if not self.folder or not os.path.exists(self.folder):
                break
            shutil.rmtree(self.folder, ignore_errors=True)
            if os.path.exists(self.folder):
                time.sleep(0.1)
        if self.client:
            self.client.close()
        if self.cluster:
            self.cluster.close()

    def run(self):
        walk, walked = self.walk()
        try:
            self.connect()
        except KeyboardInterrupt:
            walk.kill()
            return EXIT_INTERRUPTED
        except Exception as e:
            walk.kill()
            where = f"the scheduler at {self.o.scheduler}" if self.o.scheduler else \
                "a local cluster"
            message(f"cannot reach {where}: {e.strerror if isinstance(e, OSError) and e.strerror else e}")
            self.clean_up()
            return EXIT_USAGE
        try:
            walk_status, paths = walked()
            # 1: the walk stopped at its bound, and said so; the workbooks found are taken, as
            # quillfen-batch takes them.
            if walk_status not in (0, EXIT_FAILED):
                return walk_status
            if not self.o.quiet and (link := self.dashboard()):
                message(f"the Dask dashboard is at {link}")
            if not self.make_folders():
                return EXIT_FAILED
            self.terminal = Terminal(sys.stderr.buffer,
                                     sys.stderr.isatty() and not self.o.quiet, len(paths))
            self.start_merge(len(paths))
            failed = self.run_tasks(paths) if paths else 0
            status = self.finish_merge()
            return EXIT_FAILED if (failed or walk_status) and status == 0 else status
        except KeyboardInterrupt:
            # A second Ctrl-C while the run winds down ends it at once.
            signal.signal(signal.SIGINT, lambda *_: os._exit(EXIT_INTERRUPTED))
            self.cancel()
            self.finish_merge()
            return EXIT_INTERRUPTED
        finally:
            self.clean_up()


def batch_beside(here):
    """quillfen-batch beside this program (installed or built), else on the PATH."""
    beside = os.path.join(here, "quillfen-batch")
    if os.access(beside, os.X_OK):
        return beside
    return shutil.which("quillfen-batch")


def main(arguments, version, here):
    try:
        o = cli.parse(arguments)
    except cli.UsageError as e:
        sys.stderr.write(f"{PROGRAM}: {e}\n{cli.USAGE}")
        return EXIT_USAGE
    if o.help:
        sys.stdout.write(cli.HELP)
        return 0
    if o.version:
        print(f"{PROGRAM} {version}")
        return 0
    try:
        os.fsencode(o.out).decode("utf-8")
    except UnicodeDecodeError:
        # quillfen-batch makes output paths as text, which cannot hold such a name.
        message(f"the output folder's name is not valid UTF-8: {display(o.out)}")
        return EXIT_USAGE
    batch = batch_beside(here)
    if not batch:
        message("quillfen-batch is not installed beside this program nor on the PATH")
        return EXIT_FAILED
    return Run(o, batch).run()
