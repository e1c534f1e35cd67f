"""Standard error of a run: the lines of the merge as they come and, on a terminal, one line
below them that shows the workbooks done, the pictures written, the rate and the time left."""

import threading
import time

REDRAW_SECONDS = 0.2


def duration_text(seconds):
    s = int(seconds + 0.5)
    if s >= 3600:
        return f"{s // 3600}:{s // 60 % 60:02d}:{s % 60:02d}"
    return f"{s // 60}:{s % 60:02d}"


def progress_text(done, total, written, elapsed):
    text = f"{done}/{total} workbooks, {written} pictures written"
    if elapsed > 0:
        text += f", {written / elapsed:.0f} pictures/s"
    if done > 0:
        text += f", {duration_text(elapsed * (total - done) / done)} left"
    return text


class Terminal:
    def __init__(self, stream, show_progress, total):
        self._stream = stream  # binary
        self._show = show_progress
        self._total = total
        self._lock = threading.Lock()
        self._done = 0
        self._written = 0
        self._start = time.monotonic()
        self._shown = False
        self._stopped = threading.Event()
        self._ticker = None
        if show_progress:
            self._ticker = threading.Thread(target=self._tick, daemon=True)
            self._ticker.start()

    def line(self, data):
        """One line of text (bytes, its line feed included), above the progress line."""
        with self._lock:
            self._clear()
            self._stream.write(data)
            self._stream.flush()

    def add(self, workbooks, written):
        with self._lock:
            self._done += workbooks
            self._written += written

    def stop(self):
        self._stopped.set()
        if self._ticker:
            self._ticker.join()
        with self._lock:
            self._clear()

    def _clear(self):
        if self._shown:
            self._stream.write(b"\r\033[K")
            self._stream.flush()
            self._shown = False

    def _tick(self):
        while not self._stopped.wait(REDRAW_SECONDS):
            with self._lock:
                text = progress_text(self._done, self._total, self._written,
                                     time.monotonic() - self._start)
                self._stream.write(b"\r" + text.encode() + b"\033[K")
                self._stream.flush()
                self._shown = True
