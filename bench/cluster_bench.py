#!/usr/bin/python3
"""quillfen-cluster on a local cluster of two worker processes against quillfen-batch -j 2 over
the same generated set, measured in the same run, and the figures a larger cluster scales by:
- the whole run of each program, from its start to its end (the cluster's start included),
  each the best of two rounds, and their ratio (target under 1.15x);
- each task's time on its worker thread: the tasks per second one worker thread does;
- the client's own costs: its processor time per task (with the local scheduler it hosts),
  the walk per workbook, and the merge (quillfen-batch --merge alone, claiming names, renaming
  files and writing the manifest) over parts of many small pictures (each workbook shows one
  small image again and again), per 100,000 pictures.

usage: cluster_bench.py [folder] [workbooks=200] [pictures per workbook=10]
Run it from the bench build's bin folder, where quillfen-batch, quillfen-cluster and
generate_set are. The set is generated into the folder unless it is there already.
"""

import json
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BATCH = os.path.join(HERE, "quillfen-batch")
CLUSTER = os.path.join(HERE, "quillfen-cluster")
GENERATE = os.path.join(HERE, "generate_set")
MERGE_WORKBOOKS, MERGE_PICTURES = 200, 100  # 20,000 small pictures for the merge
WALK_FOLDERS, WALK_FILES = 100, 200  # 20,000 names for the walk


def child(stats, arguments):
    """quillfen-cluster itself, in this process, noting each task's figures and the client's
    processor time in stats (JSON)."""
    sys.path.insert(0, os.path.join(HERE, os.pardir, "share", "quillfen-cluster"))
    from quillfencluster import driver
    from quillfencluster import options as cli

    parts = []

    class NotedRun(driver.Run):
        def part_done(self, counts):
            parts.append(counts)
            super().part_done(counts)

    status = NotedRun(cli.parse(arguments), BATCH).run()
    usage = resource.getrusage(resource.RUSAGE_SELF)
    with open(stats, "w") as f:
        json.dump({"parts": parts, "cpu": usage.ru_utime + usage.ru_stime}, f)
    return status


def timed(command, **kwargs):
    """Wall seconds, processor seconds and exit status of a program run to its end."""
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               **kwargs)
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    return time.monotonic() - start, usage.ru_utime + usage.ru_stime, process.returncode


def listing(folder):
    return sorted((name, os.path.getsize(os.path.join(folder, name)))
                  for name in os.listdir(folder))


def merge_cost(scratch):
    """The merge alone over parts of many small pictures: seconds (wall, processor) per
    100,000 pictures."""
    small = os.path.join(scratch, "small")
    subprocess.run([GENERATE, "--shared", small, str(MERGE_WORKBOOKS), str(MERGE_PICTURES)],
                   check=True, stdout=subprocess.DEVNULL)
    books = sorted(os.path.join(small, n) for n in os.listdir(small) if n.endswith(".xlsx"))
    parts = []
    for first in range(0, len(books), 20):
        part = os.path.join(scratch, "merged", ".parts", str(first))
        os.makedirs(part)
        listed = b"".join(os.fsencode(p) + b"\0" for p in books[first:first + 20])
        subprocess.run([BATCH, "--part", part, "--quiet", "--format", "original", "-j", "2", "-"],
                       input=listed, check=False, stdout=subprocess.DEVNULL)
        parts.append(part)
    out = os.path.join(scratch, "merged")
    with tempfile.TemporaryFile() as stdin:
        stdin.write(b"".join(os.fsencode(p) + b"\0" for p in parts))
        stdin.seek(0)
        wall, cpu, _ = timed([BATCH, "--merge", "--quiet", "--out", out, "--manifest",
                              os.path.join(out, "m.csv"), "-"], stdin=stdin)
    pictures = MERGE_WORKBOOKS * MERGE_PICTURES
    return wall * 100_000 / pictures, cpu * 100_000 / pictures


def walk_cost(scratch):
    """quillfen-batch --walk over a tree of empty workbooks: processor seconds per 100,000."""
    tree = os.path.join(scratch, "tree")
    for f in range(WALK_FOLDERS):
        folder = os.path.join(tree, f"f{f}")
        os.makedirs(folder)
        for w in range(WALK_FILES):
            open(os.path.join(folder, f"w{w}.xlsx"), "wb").close()
    _, cpu, _ = timed([BATCH, "--walk", tree])
    return cpu * 100_000 / (WALK_FOLDERS * WALK_FILES)


def main():
    scratch = tempfile.mkdtemp(prefix="cluster_bench-")
    try:
        folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(scratch, "set")
        workbooks = int(sys.argv[2]) if len(sys.argv) > 2 else 200
        pictures = int(sys.argv[3]) if len(sys.argv) > 3 else 10
        print(subprocess.run([GENERATE, folder, str(workbooks), str(pictures)], check=True,
                             capture_output=True, text=True).stdout.strip(), flush=True)
        batch_out, cluster_out = os.path.join(scratch, "batch"), os.path.join(scratch, "cluster")
        stats = os.path.join(scratch, "stats.json")
        batch_best = cluster_best = float("inf")
        for round in range(2):
            shutil.rmtree(batch_out, ignore_errors=True)
            wall, _, status = timed([BATCH, "--quiet", "--format", "jpg", "-j", "2", "--out",
                                     batch_out, folder])
            batch_best = min(batch_best, wall)
            shutil.rmtree(cluster_out, ignore_errors=True)
            wall, _, cluster_status = timed(
                [sys.executable, __file__, "--child", stats, "--workers", "2", "--quiet",
                 "--format", "jpg", "--out", cluster_out, folder])
            cluster_best = min(cluster_best, wall)
            if round == 0 and (status, listing(batch_out)) != (cluster_status,
                                                                 listing(cluster_out)):
                print("the two programs wrote different files", flush=True)
        print(f"quillfen-batch -j 2: {batch_best:.2f} s; quillfen-cluster, local cluster of 2 "
              f"workers: {cluster_best:.2f} s; ratio {cluster_best / batch_best:.2f}x "
              "(target < 1.15x)")

        with open(stats) as f:
            noted = json.load(f)
        parts = noted["parts"]
        task_seconds = sum(p["seconds"] for p in parts) / len(parts)
        per_task_workbooks = sum(p["workbooks"] for p in parts) / len(parts)
        per_task_pictures = sum(p["written"] for p in parts) / len(parts)
        print(f"tasks: {len(parts)} of {per_task_workbooks:.1f} workbooks, {task_seconds:.2f} s "
              f"each on a worker thread: {1 / task_seconds:.2f} tasks/s, "
              f"{per_task_pictures / task_seconds:.1f} pictures/s per worker thread")
        client_per_task = noted["cpu"] / len(parts)
        merge_wall, merge_cpu = merge_cost(scratch)
        walk = walk_cost(scratch)
        print(f"client: {client_per_task * 1000:.0f} ms of processor per task (the local "
              f"scheduler's included); merge {merge_cpu:.2f} s of processor, {merge_wall:.2f} s, "
              f"per 100,000 pictures; walk {walk:.2f} s per 100,000 workbooks")
        # A million pictures in tasks of 200 workbooks of this set's size.
        tasks_per_million = 1e6 / (200 * pictures)
        million = merge_cpu * 10 + client_per_task * tasks_per_million + walk * 10 / pictures
        per_picture_on_worker = task_seconds / max(per_task_pictures, 1)
        print(f"estimate: the client spends {million:.0f} s of one core per million pictures "
              f"(tasks of 200 workbooks); one client keeps up with about "
              f"{per_picture_on_worker * 1e6 / million:.0f} worker threads of this machine")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) > 2 and sys.argv[1] == "--child":
        sys.exit(child(sys.argv[2], sys.argv[3:]))
    main()
