#!/usr/bin/env python3
"""End-to-end tests of the pack's write-back where other writers are about:
a pack put in place while the presentation plays, several instances quitting
together in one folder, and the box for a pack whose entry count is garbage,
with and without the installed launcher.

The real program on a private Xvfb server, audio to a file, as in
e2e_test.py, whose helpers these tests use.

Environment: VELKORANDI_BIN (the program), STAGE_DIR (a folder with the default
config.xml and blob.dat).
"""
import os
import signal
import struct
import subprocess
import sys
import time
import unittest

sys.dont_write_bytecode = True  # no cache folder left in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
# tearDownModule fails the suite when a process it started outlives it.
from e2e_test import (DEMO, FAREWELL, STAGE, BoxDismisser, Run, Xvfb, box_texts,  # noqa: E402,F401
                      boxes_pattern, pack_bytes, read_pack, scratch, started, tearDownModule)

CHANGED_BOX = ("error: write_pack: blob.dat was changed while the presentation ran; the new file is kept "
               "and the pack read at start-up is not written back\n")
RESET_HINT = (" Run `velkorandi --reset` to put the default files back (yours are moved to a backup "
              "folder).")


def strays(folder):
    """Files a write-back may have left: temporary files, hidden or not."""
    return [n for n in os.listdir(folder) if n.startswith(".") or n.startswith("blob.dat.")]


class PackWriteBack(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.xvfb = Xvfb(800, 600)
        with open(os.path.join(STAGE, "blob.dat"), "rb") as f:
            cls.pack = f.read()
        cls.entries = read_pack(cls.pack)

    @classmethod
    def tearDownClass(cls):
        cls.xvfb.stop()

    def setUp(self):
        self.boxes = BoxDismisser(self.xvfb)
        self.boxes.start()
        self.addCleanup(self.boxes.stop)

    def test_a_pack_put_in_place_while_playing_is_kept(self):
        # Another valid pack: the music a little shorter.
        new = pack_bytes(self.entries[:5] + [self.entries[5][:-4096]])
        self.assertNotEqual(new, self.pack)
        for how in ("copied over it", "renamed over it"):
            with self.subTest(how=how):
                self.boxes.seen.clear()
                run = Run(self, self.xvfb).start()
                self.assertIsNotNone(run.window_id(), "a window appears")
                time.sleep(1.0)
                path = os.path.join(run.dir, "blob.dat")
                if how == "copied over it":  # cp: the same file, written anew
                    with open(path, "r+b") as f:
                        f.truncate(0)
                        f.write(new)
                else:  # a file manager or mv: another file in its place
                    with open(path + ".new", "wb") as f:
                        f.write(new)
                    os.replace(path + ".new", path)
                time.sleep(0.5)
                run.key("Escape")
                self.assertEqual(run.wait(), 0)
                self.assertEqual(run.blob(), new, "the new pack is intact")
                self.assertEqual(box_texts(run.stderr), CHANGED_BOX)
                self.assertGreaterEqual(self.boxes.dismissed, 1, "the box was on screen")
                self.assertEqual(strays(run.dir), [])

    def test_instances_quitting_together_leave_one_pack_and_no_box(self):
        instances = 3
        for round_ in range(3):
            with self.subTest(round=round_):
                self.boxes.seen.clear()
                folder = scratch(self, "demo-e2e-shared-")
                for name in ("config.xml", "blob.dat"):
                    with open(os.path.join(STAGE, name), "rb") as src, \
                            open(os.path.join(folder, name), "wb") as dst:
                        dst.write(src.read())
                # Each instance's output and audio go to a folder of its own,
                # so the shared one holds nothing but the two files.
                runs = []
                for _ in range(instances):
                    run = Run(self, self.xvfb, config=False, blob=None)
                    run.out = open(os.path.join(run.dir, "stdout.txt"), "wb")
                    run.err = open(os.path.join(run.dir, "stderr.txt"), "wb")
                    run.proc = started([DEMO], "velkorandi", cwd=folder, env=run.env, stdout=run.out,
                                       stderr=run.err, stdin=subprocess.DEVNULL)
                    self.addCleanup(run.end)
                    runs.append(run)
                deadline = time.time() + 30
                while time.time() < deadline:
                    shown = self.xvfb.run("xdotool", "search", "--onlyvisible", "--name", ".").stdout.split()
                    if len(shown) >= instances:
                        break
                    time.sleep(0.2)
                time.sleep(1.5)
                for run in runs:
                    run.proc.send_signal(signal.SIGTERM)
                for run in runs:
                    self.assertEqual(run.wait(), 0)
                for i, run in enumerate(runs):
                    self.assertIn("io are out!", run.stdout, "instance %d wrote back" % i)
                    self.assertEqual(box_texts(run.stderr), "", "instance %d" % i)
                self.assertEqual(self.boxes.dismissed, 0)
                with open(os.path.join(folder, "blob.dat"), "rb") as f:
                    self.assertEqual(f.read(), self.pack)
                self.assertEqual(sorted(os.listdir(folder)), ["blob.dat", "config.xml"])

    def test_a_garbage_entry_count_is_called_damage(self):
        damaged = self.pack[:-4] + struct.pack("<I", 1675872532)
        text = ("read_pack: blob.dat looks truncated or damaged: its last word, the entry count, "
                "reads 1675872532 (a pack holds at most 32 entries)")
        for launcher in (False, True):
            with self.subTest(launcher=launcher):
                self.boxes.seen.clear()
                run = Run(self, self.xvfb, blob=damaged)
                run.env.pop("VELKORANDI_LAUNCHER", None)
                if launcher:
                    run.env["VELKORANDI_LAUNCHER"] = "1"
                run.start()
                self.assertEqual(run.wait(), 0)
                box = text + (RESET_HINT if launcher else "")
                self.assertRegex(box_texts(run.stderr), boxes_pattern([box, FAREWELL]))
                self.assertEqual(run.blob(), damaged, "blob.dat untouched")


if __name__ == "__main__":
    unittest.main(verbosity=2)
