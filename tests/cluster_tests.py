#!/usr/bin/python3
"""quillfen-cluster on local Dask clusters against one quillfen-batch run over the same list.

Run by CTest, one test a time: cluster_tests.py ClusterDriver.test_name. The programs are
found in $QUILLFEN_BIN_DIR (the build's bin folder)."""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

import psutil

BIN = os.environ.get("QUILLFEN_BIN_DIR", os.path.join(os.path.dirname(__file__), "..", "build",
                                                      "default", "bin"))
BATCH = os.path.join(BIN, "quillfen-batch")
CLUSTER = os.path.join(BIN, "quillfen-cluster")
CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "corpus")
sys.path.insert(0, os.path.join(BIN, os.pardir, "share", "quillfen-cluster"))


def make_tree(root):
    """Workbooks whose names meet again in other folders and in another letter case, damaged
    ones (not a zip, cut short, a part missing), a protected one, linked and undecodable
    pictures, a picture placed in a cell, a name that is not UTF-8, and enough of them for many
    tasks."""
    kinds = ["xlsx/xw_image01.xlsx", "xlsx/xw_image05.xlsx", "xlsx/xw_image07.xlsx",
             "xlsx/pss_urlImage.xlsx", "xlsx/poi_protect.xlsx", "xlsx/cal_picture.xlsx",
             "xlsx/xw_embed_image01.xlsx", "xls/28774.xls", "xls/SimpleWithImages.xls",
             "xlsb/picture.xlsb"]
    for folder in ("a", "b", "c/deep", "d"):
        os.makedirs(os.path.join(root, "in", folder))
        for kind in kinds:
            shutil.copy(os.path.join(CORPUS, kind), os.path.join(root, "in", folder))
    shutil.copy(os.path.join(CORPUS, "xlsx/xw_image07.xlsx"), os.path.join(root, "in/b/Book.xlsx"))
    shutil.copy(os.path.join(CORPUS, "xlsx/xw_image05.xlsx"), os.path.join(root, "in/d/book.xlsx"))
    shutil.copy(os.path.join(CORPUS, "xlsx/xw_image01.xlsx"),
                os.fsencode(os.path.join(root, "in/c")) + b"/odd \xff name.xlsx")
    with open(os.path.join(root, "in/a/garbage.xlsx"), "wb") as f:
        f.write(b"PK\x03\x04 not really a zip")
    with open(os.path.join(CORPUS, "xlsx/cal_picture.xlsx"), "rb") as f:
        whole = f.read()
    with open(os.path.join(root, "in/b/cut.xlsx"), "wb") as f:
        f.write(whole[: len(whole) // 2])
    with zipfile.ZipFile(os.path.join(CORPUS, "xlsx/xw_image07.xlsx")) as src, \
            zipfile.ZipFile(os.path.join(root, "in/d/partless.xlsx"), "w") as dst:
        for item in src.infolist():
            if item.filename != "xl/drawings/drawing1.xml":
                dst.writestr(item, src.read(item))


def result_of(cwd, out, err, status):
    """What two runs must share: every file below out (names and bytes), the lines on standard
    error (the summary's time and the program's name aside) and the exit status."""
    files = {}
    for folder, _, names in os.walk(os.path.join(cwd, out)):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, cwd)] = f.read()
    lines = []
    for line in err.splitlines():
        # libpng's own complaint reaches the terminal only from the process that decodes.
        if line.startswith(b"libpng "):
            continue
        line = re.sub(rb"^quillfen-(batch|cluster): ", b"PROGRAM: ", line)
        lines.append(re.sub(rb" in [0-9.]+ s$", b"", line))
    return files, lines, status


class ClusterDriver(unittest.TestCase):
    def assertSameResult(self, actual, expected):
        self.assertEqual(sorted(actual[0]), sorted(expected[0]))
        self.assertEqual([name for name in expected[0] if actual[0][name] != expected[0][name]],
                         [])
        self.assertEqual(actual[1], expected[1])
        self.assertEqual(actual[2], expected[2])

    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.root = self.scratch.name
        make_tree(self.root)
        self.walked = subprocess.run([BATCH, "--walk", "in"], cwd=self.root,
                                     capture_output=True).stdout.count(b"\0")

    def tearDown(self):
        self.scratch.cleanup()

    def batch_result(self, *extra):
        run = subprocess.run([BATCH, "--out", "out", "--manifest", "out/m.csv", "-j", "2", *extra,
                              "in"], cwd=self.root, capture_output=True)
        result = result_of(self.root, "out", run.stderr, run.returncode)
        shutil.rmtree(os.path.join(self.root, "out"))
        return result

    def cluster(self, *extra, **popen):
        return subprocess.Popen(
            [CLUSTER, "--workers", "2", "--task-size", "3", "--out", "out", "--manifest",
             "out/m.csv", *extra, "in"], cwd=self.root, stderr=subprocess.PIPE, **popen)

    def test_same_result_as_one_batch_run(self):
        expected = self.batch_result()
        self.assertEqual(expected[2], 1)
        self.assertGreater(self.walked, 30)
        self.assertIn("out/book_1 (2).jpg", expected[0])
        run = self.cluster()
        err = run.stderr.read()
        self.assertSameResult(result_of(self.root, "out", err, run.wait()), expected)

    def test_cell_pictures_are_taken_as_one_batch_run_takes_them(self):
        expected = self.batch_result("--cell-pictures")
        self.assertIn("out/xw_embed_image01_1 (4).jpg", expected[0])
        run = self.cluster("--cell-pictures")
        err = run.stderr.read()
        self.assertSameResult(result_of(self.root, "out", err, run.wait()), expected)

    def test_a_worker_killed_during_a_task_changes_nothing(self):
        expected = self.batch_result()
        run = self.cluster()
        killed = None
        # The parts run as children of the worker processes: kill the worker of the first one
        # seen, as a host going down would.
        while killed is None and run.poll() is None:
            for child in psutil.Process(run.pid).children(recursive=True):
                try:
                    if child.name() == "quillfen-batch" and "--part" in child.cmdline():
                        killed = child.parent()
                        killed.kill()
                        break
                except psutil.NoSuchProcess:
                    pass
            time.sleep(0.01)
        err = run.stderr.read()
        self.assertIsNotNone(killed, "no task was seen running")
        self.assertSameResult(result_of(self.root, "out", err, run.wait()), expected)

    def test_ctrl_c_cancels_the_tasks_and_leaves_no_half_written_file(self):
        run = self.cluster(start_new_session=True)
        out = os.path.join(self.root, "out")
        while run.poll() is None and not (
                os.path.isdir(out) and any(n.endswith(".jpg") for n in os.listdir(out))):
            time.sleep(0.01)
        # As a terminal sends it: to the whole process group, the local workers included.
        os.killpg(run.pid, signal.SIGINT)
        err = run.stderr.read()
        self.assertEqual(run.wait(), 130, err)
        self.assertTrue(err.endswith(b"quillfen-cluster: interrupted\n"), err)
        left = [n for n in os.listdir(out) if n.startswith(".")]
        self.assertEqual(left, [])
        self.assertTrue(os.path.exists(os.path.join(out, "m.csv")))
        # The parts in progress were told to stop; they end within moments.
        deadline = time.monotonic() + 10
        while any(os.path.join(out, ".quillfen-cluster") in " ".join(p.info["cmdline"] or [])
                  for p in psutil.process_iter(["cmdline"])):
            self.assertLess(time.monotonic(), deadline, "a part of the run is still going")
            time.sleep(0.1)

    def test_an_unreachable_scheduler_is_a_clear_error_and_exits_with_2(self):
        env = dict(os.environ, DASK_DISTRIBUTED__COMM__TIMEOUTS__CONNECT="1s")
        for address, reason in (("tcp://127.0.0.1:1", b"Timed out trying to connect"),
                                ("nonsense", b"missing port number")):
            run = subprocess.run([CLUSTER, "--scheduler", address, "--out", "out", "in"],
                                 cwd=self.root, capture_output=True, env=env)
            self.assertEqual(run.returncode, 2)
            self.assertTrue(run.stderr.startswith(
                b"quillfen-cluster: cannot reach the scheduler at " + address.encode()), run.stderr)
            self.assertIn(reason, run.stderr)
            self.assertFalse(os.path.exists(os.path.join(self.root, "out")))

    def test_a_task_that_cannot_do_its_part_says_why(self):
        from quillfencluster import tasks

        base = dict(run="r", folder=self.root, cwd=self.root, batch=BATCH, format="jpg",
                    quality=85)
        cases = [
            (dict(folder="/nonexistent/out/.run"),
             "cannot reach the shared folder '/nonexistent/out/.run': No such file or directory"),
            (dict(cwd="/nonexistent"), "cannot reach the folder '/nonexistent'"),
            (dict(batch="/nonexistent/quillfen-batch"), None),  # found on the PATH instead
        ]
        for change, reason in cases:
            env_path = os.environ["PATH"]
            os.environ["PATH"] = BIN + os.pathsep + env_path
            try:
                counts = tasks.run_part(7, b"in/a/xw_image01.xlsx\0", dict(base, **change))
                self.assertIsNone(reason)
                self.assertEqual((counts["workbooks"], counts["written"]), (1, 1))
                self.assertTrue(counts["part"].startswith("000007-"))
            except tasks.PartFailed as e:
                self.assertIn(reason, str(e))
            finally:
                os.environ["PATH"] = env_path


if __name__ == "__main__":
    unittest.main()
