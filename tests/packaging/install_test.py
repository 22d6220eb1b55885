#!/usr/bin/env python3
"""The build installed into a scratch prefix as a user would install it
(`cmake --install BUILD --prefix PREFIX`): every file in its place, and the
launcher's handling of the user's folder.

The launcher's tests replace the installed program with a stand-in that
records the folder it runs in, its arguments and its environment, and put a
stand-in zenity first on PATH that records the dialog it was asked for, so
they need no display; the real program is started through the installed
package by scripts/check-fresh.

Environment: BUILD_DIR (a configured and built tree), VELKORANDI_VERSION.
"""
import os
import pty
import shutil
import struct
import subprocess
import tempfile
import unittest

BUILD = os.environ.get("BUILD_DIR", "build/release")
VERSION = os.environ.get("VELKORANDI_VERSION", "")
ICON_SIZES = [16, 32, 48, 64, 128, 256]

EXPECTED_FILES = sorted(
    ["bin/velkorandi", "bin/blobpack", "bin/velkorandi-capture",
     "libexec/velkorandi/velkorandi",
     "share/velkorandi/defaults/config.xml", "share/velkorandi/defaults/blob.dat",
     "share/applications/velkorandi.desktop",
     "share/man/man6/velkorandi.6.gz", "share/man/man1/blobpack.1.gz",
     "share/man/man1/velkorandi-capture.1.gz",
     "share/doc/velkorandi/copyright", "share/doc/velkorandi/changelog.Debian.gz"]
    + ["share/icons/hicolor/%dx%d/apps/velkorandi.png" % (s, s) for s in ICON_SIZES])

# Stands in for the program: notes where it ran, with which arguments, and
# which files it found there, and its environment beside that.
STAND_IN = """#!/bin/sh
{ pwd; echo "$#"; ls -A; } > "$STAND_IN_RECORD"
env > "$STAND_IN_RECORD.env"
[ -z "${STAND_IN_WRITES:-}" ] || echo "written back" >> blob.dat
"""

# Stands in for zenity, which would need a display and wait for a click:
# notes its arguments, NUL-separated as a text may hold line breaks.
ZENITY = """#!/bin/sh
printf '%s\\0' "$@" > "$ZENITY_RECORD"
exit "${ZENITY_STATUS:-0}"
"""


def read(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


def write(path, data):
    with open(path, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)


class Installed(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="velkorandi-install-")
        cls.prefix = os.path.join(cls.tmp, "prefix")
        subprocess.run(["cmake", "--install", BUILD, "--prefix", cls.prefix],
                       check=True, capture_output=True)
        cls.launcher = os.path.join(cls.prefix, "bin", "velkorandi")
        cls.defaults = os.path.join(cls.prefix, "share", "velkorandi", "defaults")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, True)

    def test_layout(self):
        found = sorted(os.path.relpath(os.path.join(d, f), self.prefix)
                       for d, _, files in os.walk(self.prefix) for f in files)
        self.assertEqual(found, EXPECTED_FILES)
        for program in ["bin/velkorandi", "bin/blobpack", "bin/velkorandi-capture",
                        "libexec/velkorandi/velkorandi"]:
            self.assertTrue(os.access(os.path.join(self.prefix, program), os.X_OK), program)
        self.assertEqual(read(os.path.join(self.defaults, "blob.dat")),
                         read(os.path.join(BUILD, "stage", "blob.dat")))
        for size in ICON_SIZES:
            png = read(os.path.join(self.prefix, "share/icons/hicolor/%dx%d/apps/velkorandi.png"
                                    % (size, size)))
            self.assertEqual(png[:8], b"\x89PNG\r\n\x1a\n")
            self.assertEqual(struct.unpack(">II", png[16:24]), (size, size))

    def test_manual_pages_and_menu_entry_pass_their_checkers(self):
        env = dict(os.environ, LC_ALL="C.UTF-8", MANROFFSEQ="", MANWIDTH="80")
        for page in ["man6/velkorandi.6.gz", "man1/blobpack.1.gz", "man1/velkorandi-capture.1.gz"]:
            # The way lintian reads them: every warning of groff counts.
            r = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z",
                                os.path.join(self.prefix, "share/man", page)],
                               env=env, capture_output=True, text=True)
            self.assertEqual((r.returncode, r.stderr), (0, ""), page)
            text = subprocess.run(["man", "-l", os.path.join(self.prefix, "share/man", page)],
                                  env=env, capture_output=True, text=True).stdout
            self.assertIn(VERSION, text, page)
        r = subprocess.run(["desktop-file-validate",
                            os.path.join(self.prefix, "share/applications/velkorandi.desktop")],
                           capture_output=True, text=True)
        self.assertEqual((r.returncode, r.stdout + r.stderr), (0, ""))

    # ---- the launcher, with the program replaced by a stand-in

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="home-", dir=self.tmp)
        self.record = os.path.join(self.home, "record")
        self.program = os.path.join(self.prefix, "libexec", "velkorandi", "velkorandi")
        self.tools = os.path.join(self.home, "tools")
        os.makedirs(self.tools)
        write(os.path.join(self.tools, "zenity"), ZENITY)
        os.chmod(os.path.join(self.tools, "zenity"), 0o755)
        self.zenity_record = os.path.join(self.home, "zenity-record")

    def stand_in(self):
        if not os.path.exists(self.program + ".real"):
            os.rename(self.program, self.program + ".real")
            self.addCleanup(os.rename, self.program + ".real", self.program)
        write(self.program, STAND_IN)
        os.chmod(self.program, 0o755)

    def launch(self, *args, data_home=None, launcher=None):
        """Runs the launcher; returns (status, stdout, stderr, record), where
        record is the stand-in's (folder, argument count, files) or None when
        the program was not started."""
        self.stand_in()
        return self.launch_without_stand_in(*args, data_home=data_home, launcher=launcher)

    def launch_without_stand_in(self, *args, data_home=None, launcher=None, extra_env=None,
                                stderr_on_terminal=False):
        for old in [self.record, self.zenity_record]:
            if os.path.exists(old):
                os.remove(old)
        env = {"PATH": self.tools + os.pathsep + os.environ["PATH"], "HOME": self.home,
               "STAND_IN_RECORD": self.record, "ZENITY_RECORD": self.zenity_record}
        if data_home is not None:
            env["XDG_DATA_HOME"] = data_home
        env.update(extra_env or {})
        command = [launcher or self.launcher] + list(args)
        if stderr_on_terminal:
            r = run_with_stderr_on_a_terminal(command, env)
        else:
            r = subprocess.run(command, env=env, capture_output=True, text=True, timeout=30)
        record = None
        if os.path.exists(self.record):
            lines = read(self.record, "r").splitlines()
            record = (lines[0], int(lines[1]), sorted(lines[2:]))
        return r.returncode, r.stdout, r.stderr, record

    def folder(self):
        return os.path.join(self.home, ".local", "share", "velkorandi")

    def dialog(self):
        """The arguments zenity was started with, or None."""
        if not os.path.exists(self.zenity_record):
            return None
        return read(self.zenity_record, "r").split("\0")[:-1]

    def test_first_run_copies_the_defaults_and_later_runs_keep_the_users_files(self):
        status, _, err, record = self.launch()
        self.assertEqual((status, err), (0, ""))
        folder = self.folder()
        self.assertEqual(record, (folder, 0, ["blob.dat", "config.xml"]))
        for name in ["config.xml", "blob.dat"]:
            self.assertEqual(read(os.path.join(folder, name)),
                             read(os.path.join(self.defaults, name)), name)
        self.assertTrue(os.access(os.path.join(folder, "blob.dat"), os.W_OK))
        # The program's messages about damaged files point to --reset only
        # when it knows it was started through the launcher.
        self.assertIn("VELKORANDI_LAUNCHER=1", read(self.record + ".env", "r").splitlines())

        mine = read(os.path.join(folder, "config.xml")).replace(b"<width>800", b"<width>640")
        write(os.path.join(folder, "config.xml"), mine)
        self.assertEqual(self.launch()[3][0], folder)
        self.assertEqual(read(os.path.join(folder, "config.xml")), mine)

        # A missing file comes back from the defaults; the other stays the user's.
        os.remove(os.path.join(folder, "blob.dat"))
        self.assertEqual(self.launch()[3], (folder, 0, ["blob.dat", "config.xml"]))
        self.assertEqual(read(os.path.join(folder, "blob.dat")),
                         read(os.path.join(self.defaults, "blob.dat")))
        self.assertEqual(read(os.path.join(folder, "config.xml")), mine)

    def test_damaged_files_and_links_are_left_for_the_program_to_report(self):
        folder = self.folder()
        os.makedirs(folder)
        write(os.path.join(folder, "blob.dat"), b"not a pack")
        os.symlink(os.path.join(self.home, "gone.xml"), os.path.join(folder, "config.xml"))
        status, _, _, record = self.launch()
        self.assertEqual(status, 0)
        self.assertEqual(record, (folder, 0, ["blob.dat", "config.xml"]))
        self.assertEqual(read(os.path.join(folder, "blob.dat")), b"not a pack")
        self.assertTrue(os.path.islink(os.path.join(folder, "config.xml")))
        self.assertFalse(os.path.exists(os.path.join(self.home, "gone.xml")))

    def test_the_folder_follows_xdg_data_home_when_it_is_absolute(self):
        data_home = os.path.join(self.home, "data")
        self.assertEqual(self.launch(data_home=data_home)[3][0],
                         os.path.join(data_home, "velkorandi"))
        # A relative one is ignored, as the XDG rules say.
        self.assertEqual(self.launch(data_home="relative/data")[3][0], self.folder())

    def test_reset_keeps_the_users_files_in_a_backup(self):
        folder = self.folder()
        os.makedirs(folder)
        write(os.path.join(folder, "config.xml"), "mine")
        status, out, err, record = self.launch("--reset")
        self.assertEqual((status, err, record), (0, "", None), "the program is not started")
        self.assertIn(folder, out)
        for name in ["config.xml", "blob.dat"]:
            self.assertEqual(read(os.path.join(folder, name)),
                             read(os.path.join(self.defaults, name)), name)
        backups = [d for d in os.listdir(folder) if d.startswith("backup-")]
        self.assertEqual(len(backups), 1)
        self.assertEqual(os.listdir(os.path.join(folder, backups[0])), ["config.xml"])
        self.assertEqual(read(os.path.join(folder, backups[0], "config.xml"), "r"), "mine")

    def test_installed_in_the_users_own_prefix_the_defaults_stay_apart(self):
        # Under ~/.local the defaults lie below the user's own folder
        # (~/.local/share/velkorandi), where the program writes back.
        prefix = os.path.join(self.home, ".local")
        subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix],
                       check=True, capture_output=True)
        program = os.path.join(prefix, "libexec", "velkorandi", "velkorandi")
        write(program, STAND_IN)
        defaults = os.path.join(prefix, "share", "velkorandi", "defaults")
        pack = read(os.path.join(defaults, "blob.dat"))
        env = {"PATH": os.environ["PATH"], "HOME": self.home, "STAND_IN_RECORD": self.record,
               "STAND_IN_WRITES": "1"}
        for _ in range(2):
            subprocess.run([os.path.join(prefix, "bin", "velkorandi")], env=env, check=True)
            self.assertEqual(read(self.record, "r").splitlines()[0], self.folder())
        self.assertEqual(read(os.path.join(defaults, "blob.dat")), pack)
        self.assertEqual(read(os.path.join(self.folder(), "blob.dat")),
                         pack + b"written back\nwritten back\n")

    def test_arguments(self):
        status, out, _, record = self.launch("--help")
        self.assertEqual((status, record), (0, None))
        self.assertIn(self.folder(), out)
        self.assertIn(self.defaults, out)
        self.assertEqual(self.launch("--version")[:2], (0, "velkorandi %s\n" % VERSION))
        for wrong in [["--fullscreen"], ["--reset", "--help"]]:
            status, out, err, record = self.launch(*wrong)
            self.assertEqual((status, out, record), (2, "", None), wrong)
            self.assertIn("usage: velkorandi", err)
        self.assertFalse(os.path.exists(self.folder()), "nothing is made for a wrong argument")

    def test_found_through_a_link_and_says_what_is_missing(self):
        link = os.path.join(self.home, "bin", "velkorandi")
        os.makedirs(os.path.dirname(link))
        os.symlink(self.launcher, link)
        self.assertEqual(self.launch(launcher=link)[3][0], self.folder())

        self.stand_in()
        os.rename(self.program, self.program + ".away")
        self.addCleanup(os.rename, self.program + ".away", self.program)
        status, _, err, _ = self.launch_without_stand_in()
        self.assertEqual(status, 1)
        self.assertIn("the program is missing: " + self.program, err)

    def test_failures_are_shown_in_a_dialog_when_nobody_reads_standard_error(self):
        unmakeable = os.path.join(self.home, "a-file")  # not even root makes a folder in it
        write(unmakeable, "")
        pack = os.path.join(self.defaults, "blob.dat")
        # (file taken away, data home, message, the cause it carries)
        failures = [
            (None, unmakeable, "cannot make the folder %s/velkorandi\n" % unmakeable,
             "Not a directory"),
            (self.program, None, "the program is missing: " + self.program, ""),
            (pack, None, "the default blob.dat is missing from " + self.defaults, ""),
        ]
        # (situation, environment, standard error on a terminal, dialog shown)
        situations = [
            ("from the menu on X", {"DISPLAY": ":7"}, False, True),
            ("from the menu on Wayland", {"WAYLAND_DISPLAY": "wayland-7"}, False, True),
            ("the dialog cannot open", {"DISPLAY": ":7", "ZENITY_STATUS": "5"}, False, True),
            ("in a terminal", {"DISPLAY": ":7"}, True, False),
            ("without a display", {}, False, False),
        ]
        for away, data_home, message, cause in failures:
            if away:
                os.rename(away, away + ".away")
                self.addCleanup(os.rename, away + ".away", away)
            for situation, extra_env, on_terminal, dialog in situations:
                with self.subTest(message, situation=situation):
                    status, _, err, record = self.launch_without_stand_in(
                        data_home=data_home, extra_env=extra_env, stderr_on_terminal=on_terminal)
                    self.assertEqual((status, record), (1, None))
                    self.assertIn("velkorandi: " + message, err)
                    self.assertIn(cause, err)
                    if not dialog:
                        self.assertIsNone(self.dialog())
                        continue
                    self.assertEqual(self.dialog()[:3],
                                     ["--error", "--no-markup", "--title=Velkorandi"])
                    self.assertTrue(self.dialog()[3].startswith("--text=" + message))
                    self.assertIn(cause, self.dialog()[3])
            self.doCleanups()


def run_with_stderr_on_a_terminal(command, env):
    """Runs the command with standard error on a pseudo-terminal, as in a
    terminal window; what it wrote there comes back as stderr."""
    main, side = pty.openpty()
    try:
        r = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=side,
                           text=True, timeout=30)
    finally:
        os.close(side)
    said = b""
    try:
        while chunk := os.read(main, 4096):
            said += chunk
    except OSError:  # how Linux ends a pseudo-terminal whose other side is closed
        pass
    os.close(main)
    r.stderr = said.decode().replace("\r\n", "\n")
    return r


if __name__ == "__main__":
    unittest.main(verbosity=2)
