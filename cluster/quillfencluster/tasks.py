"""What runs on a worker: one part of the run, quillfen-batch --part in a folder of its own.

This module travels to the workers by value (cloudpickle), so a worker needs Python, Dask and
quillfen-batch, but not quillfen-cluster itself. It imports nothing of Dask at its top.
"""

import json
import os
import secrets
import shutil
import signal
import socket
import subprocess
import threading
import time
from dataclasses import dataclass


@dataclass(frozen=True)
class Job:
    """What every task of one run shares."""

    run: str  # the run's token: names its tasks, and its processes when the run is cancelled
    folder: str  # the run's folder of parts on the shared file system, as an absolute path
    cwd: str  # the client's working folder, where relative paths start
    batch: str  # quillfen-batch as the client found it
    format: str
    quality: int
    cell_pictures: bool = False


class PartFailed(Exception):
    """A task that cannot do its part, with the reason a person can act on."""


def _running(worker):
    """A worker's parts in progress per run, and its cancelled runs, so a cancelled run can
    stop them. Kept on the worker object, which outlives the tasks: this module's own globals
    are unpickled anew with each task."""
    if worker is None:
        return {"lock": threading.Lock(), "parts": {}, "cancelled": set()}
    # setdefault is atomic, so two tasks starting at once share one.
    return worker.__dict__.setdefault(
        "quillfen_parts", {"lock": threading.Lock(), "parts": {}, "cancelled": set()})


def _this_worker():
    try:
        from distributed import get_worker

        return get_worker()
    except (ImportError, ValueError):
        return None


def _where(worker):
    return f"worker {worker.address}" if worker is not None else socket.gethostname()


def _batch_program(job, where):
    if os.access(job.batch, os.X_OK):
        return job.batch
    found = shutil.which("quillfen-batch")
    if found:
        return found
    raise PartFailed(f"{where} has no quillfen-batch (not at {job.batch}, not on its PATH)")


def run_part(index, paths, fields):
    """Runs quillfen-batch --part over the paths (bytes, each followed by NUL) in a new folder
    of the run's; returns the folder's name within the run's folder and the part's counts.
    fields are the Job's, sent as a plain dict.

    A retried task (its worker was lost) writes into a folder of its own again, so whatever an
    earlier attempt left half done is never taken for the part."""
    job = Job(**fields)
    worker = _this_worker()
    where = _where(worker)
    try:
        os.stat(job.folder)
    except OSError as e:
        raise PartFailed(
            f"{where} cannot reach the shared folder '{job.folder}': {e.strerror} "
            "(every worker must see it at the same path)"
        ) from None
    program = _batch_program(job, where)
    cwd = job.cwd
    if not os.path.isdir(cwd):
        if any(not p.startswith(b"/") for p in paths.split(b"\0") if p):
            raise PartFailed(
                f"{where} cannot reach the folder '{cwd}' that relative paths start from "
                "(give absolute paths, or run from a folder every worker sees)"
            )
        cwd = job.folder
    name = f"{index:06d}-{secrets.token_hex(4)}"
    folder = os.path.join(job.folder, name)
    try:
        # Not makedirs: a run folder its client has removed is not made again.
        os.mkdir(folder)
    except OSError as e:
        raise PartFailed(f"{where} cannot make '{folder}': {e.strerror}") from None
    running = _running(worker)
    start = time.monotonic()
    with running["lock"]:
        if job.run in running["cancelled"]:
            raise PartFailed("cancelled")
        # Its own session: a Ctrl-C on the client's terminal reaches a local worker's group,
        # and the part is stopped by the client's cancel instead, with SIGTERM.
        command = [program, "--part", folder, "--quiet", "--format", job.format,
                   "--quality", str(job.quality), "-j", "1"]
        if job.cell_pictures:
            command.append("--cell-pictures")
        process = subprocess.Popen(
            command + ["-"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            cwd=cwd, start_new_session=True)
        running["parts"].setdefault(job.run, set()).add(process)
    try:
        out, err = process.communicate(paths)
    finally:
        with running["lock"]:
            running["parts"][job.run].discard(process)
    if job.run in running["cancelled"]:
        raise PartFailed("cancelled")
    # 1 is a part in which a workbook or picture failed: those are told by the merge.
    if process.returncode not in (0, 1):
        status = process.returncode
        how = f"was ended by signal {-status}" if status < 0 else f"ended with status {status}"
        lines = err.decode(errors="replace").strip().splitlines()
        raise PartFailed(f"quillfen-batch {how} on {where}" + (f": {lines[-1]}" if lines else ""))
    counts = json.loads(out.decode().strip().splitlines()[-1])
    counts.update(part=name, seconds=time.monotonic() - start, worker=where)
    return counts


def stop_parts(run, dask_worker=None):
    """Run on every worker when the run is cancelled: no part of it starts there any more, and
    those in progress are told to stop (they finish or remove the files in hand)."""
    running = _running(dask_worker)
    with running["lock"]:
        running["cancelled"].add(run)
        stopping = list(running["parts"].get(run, ()))
    for process in stopping:
        try:
            process.send_signal(signal.SIGTERM)
        except OSError:
            pass
    return len(stopping)
