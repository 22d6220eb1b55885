#!/usr/bin/env python3
"""End-to-end tests of what only real desktops show: a display that goes
away, signals while a box is up, full screen and placement under a window
manager (X.Org with openbox), XWayland and native Wayland (weston).

The program, its content and the helpers are those of e2e_test.py.
"""
import os
import signal
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import e2e_test as base  # noqa: E402
from e2e_test import Run, Xvfb, box_texts  # noqa: E402


def wait_until(condition, timeout, step=0.05):
    """condition's first true value, or None when the deadline passes."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value or None
        time.sleep(step)


def process_cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class DisplayGoesAway(unittest.TestCase):
    """The X server ends under the running presentation (a logout, a crash):
    the program ends at once, writing the pack back as at any orderly end."""

    setUpClass = base.Presentation.__dict__["setUpClass"]
    tearDownClass = base.Presentation.__dict__["tearDownClass"]
    expected_write_back = base.Presentation.expected_write_back

    def test_the_program_ends_and_writes_the_pack_back(self):
        xvfb = Xvfb(800, 600)
        self.addCleanup(lambda: xvfb.proc.poll() is None and xvfb.stop())
        run = Run(self, xvfb).start()
        self.addCleanup(lambda: run.proc.poll() is None and run.proc.kill())
        self.assertIsNotNone(run.window_id(), "a window appears")
        xvfb.proc.kill()
        xvfb.proc.wait(timeout=10)
        gone = time.monotonic()
        ended = wait_until(lambda: run.proc.poll() is not None, 20)
        if not ended:
            spent = process_cpu_seconds(run.proc.pid)
            self.fail("still running 20 s after its display went away (%.1f s of CPU)" % spent)
        # Under a sanitizer on a busy machine the orderly end takes a moment;
        # one spent spinning on the dead connection would take for ever.
        self.assertLess(time.monotonic() - gone, 5.0)
        self.assertEqual(run.wait(), 0)
        self.assertIn("platform: the display went away", run.stderr)
        self.assertTrue(run.stdout.endswith(self.expected_write_back()), run.stdout[-300:])
        self.assertEqual(run.blob(), self.pack)


if __name__ == "__main__":
    unittest.main(verbosity=2)
