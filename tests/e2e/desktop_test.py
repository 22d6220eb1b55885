#!/usr/bin/env python3
"""End-to-end tests of what only real desktops show: a display that goes
away, signals while a box is up, full screen and placement under a window
manager (X.Org with openbox), XWayland and native Wayland (weston).

The program, its content and the harness are those of e2e_test.py; the
sessions are scripts/desktop-session's (desktop_sessions.py).
"""
import os
import re
import signal
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import desktop_sessions as sessions  # noqa: E402
import e2e_test as base  # noqa: E402
from e2e_test import Run, Xvfb, box_texts, wait_for  # noqa: E402
from PIL import Image  # noqa: E402

# Tear-down of the harness: the suite fails if anything it started outlives it.
tearDownModule = base.tearDownModule

CAPTION = "Velkorandi"


class SessionDisplay:
    """What the harness's Run needs of a display, for a session's X server
    (X.Org itself, or XWayland on weston)."""

    def __init__(self, session, which="x"):
        self.session = session
        self.which = which
        self.display = session.environment(which)["DISPLAY"]

    def run(self, *args, check=False, timeout=30):
        return self.session.run(*args, display=self.which, check=check, timeout=timeout)

    def focus(self):
        return self.run("xdotool", "getwindowfocus").stdout.strip()


def configured(fullscreen=0, halign=1, valign=1, caption=CAPTION):
    with open(os.path.join(base.STAGE, "config.xml")) as f:
        config = f.read()
    config = re.sub(r"<caption>.*?</caption>", "<caption>%s</caption>" % caption, config)
    for name, value in (("fullscreen", fullscreen), ("halign", halign), ("valign", valign)):
        config = re.sub(r"<%s>\d+</%s>" % (name, name), "<%s>%d</%s>" % (name, value, name), config)
    return config


def screen_problem(path, width, height):
    """None when a screenshot of a whole screen shows the drawing area
    letterboxed at its own 16:10 aspect, centred, with the picture in it;
    else what is wrong. The drawing area fills the height; black bars stand
    left and right; beside the square panel the area is white."""
    shot = Image.open(path).convert("RGB")
    if shot.size != (width, height):
        return "the screen is %r, not %r" % (shot.size, (width, height))
    area = min(width, height * 16 // 10)
    left = (width - area) // 2
    panel = (left + area * 3 // 20, left + area * 17 // 20)
    middle = height // 2
    bars = [(left // 2, middle), (width - 1 - left // 2, middle)] if left else \
        [(width // 2, 4), (width // 2, height - 5)]  # 16:10 in 4:3: bars above and below
    points = [(point, (0, 0, 0)) for point in bars] + [
        ((x, middle), (255, 255, 255)) for x in (left + 8, panel[0] - 8, panel[1] + 8, left + area - 8)]
    for point, colour in points:
        if shot.getpixel(point) != colour:
            return "%r at %r, not %r" % (shot.getpixel(point), point, colour)
    colours = shot.crop((panel[0] + 10, height // 4, panel[1] - 10, height * 3 // 4)).getcolors(1 << 20)
    if len(colours) <= 8:
        return "the panel shows %d colours, not a picture" % len(colours)
    return None


def presentation_window(desktop, display="x", caption=CAPTION):
    for window in desktop.windows(display):
        if window.name == caption:
            return window
    return None


def box_ids(display):
    """The message boxes on screen: SDL names their X window after the
    caption, and gives them no class."""
    tree = display.run("xwininfo", "-root", "-tree").stdout
    return re.findall(r'^\s*(0x[0-9a-f]+) "error":', tree, flags=re.M)


class DisplayGoesAway(unittest.TestCase):
    """The X server ends under the running presentation (a logout, a crash):
    the program ends at once, writing the pack back as at any orderly end."""

    setUpClass = base.Presentation.__dict__["setUpClass"]
    tearDownClass = base.Presentation.__dict__["tearDownClass"]
    expected_write_back = base.Presentation.expected_write_back

    def check_the_end(self, run, end_the_server):
        self.assertIsNotNone(run.window_id(), "a window appears")
        self.assertIsNone(run.wait_for_pictures())
        end_the_server()
        gone = time.monotonic()
        # Under a sanitizer on a busy machine the orderly end takes a moment;
        # a process spinning on the dead connection would never end.
        self.assertTrue(wait_for(lambda: run.proc.poll() is not None, 30),
                        "the program still runs 30 s after its display went away")
        self.assertLess(time.monotonic() - gone, 10.0)
        self.assertEqual(run.wait(), 0)
        self.assertIn("platform: the display went away", run.stderr)
        self.assertTrue(run.stdout.endswith(self.expected_write_back()), run.stdout[-300:])
        self.assertEqual(run.blob(), self.pack)

    def test_on_xvfb(self):
        xvfb = Xvfb(800, 600)
        self.addCleanup(xvfb.stop)
        run = Run(self, xvfb).start()
        self.check_the_end(run, lambda: os.kill(xvfb.proc.pid, signal.SIGKILL))

    def test_on_xorg_with_a_window_manager(self):
        desktop = sessions.XorgSession()
        desktop.start()
        self.addCleanup(desktop.stop)
        run = Run(self, SessionDisplay(desktop)).start()
        self.check_the_end(run, lambda: os.kill(desktop.pids["xorg"], signal.SIGKILL))


class OnSession(unittest.TestCase):
    """The default content and one private session of session_kind for the
    tests of a class."""

    session_kind = None
    expected_write_back = base.Presentation.expected_write_back

    @classmethod
    def setUpClass(cls):
        base.Presentation.setUpClass.__func__(cls)
        cls.desktop = cls.session_kind()
        try:
            cls.desktop.start()
        except unittest.SkipTest:
            base.Presentation.tearDownClass.__func__(cls)
            raise
        cls.display = SessionDisplay(cls.desktop)

    @classmethod
    def tearDownClass(cls):
        cls.desktop.stop()
        base.Presentation.tearDownClass.__func__(cls)


class OnXorg(OnSession):
    """X.Org with real mode switching, and openbox framing, placing and
    focusing windows."""

    session_kind = sessions.XorgSession

    def box_window(self):
        boxes = box_ids(self.display)
        return boxes[0] if boxes else None

    def test_full_screen_comes_back_after_a_box(self):
        # No sound server and no sound card: the "Bass_Init" box appears
        # over the full screen and takes the focus, which is when a user
        # presses OK.
        run = Run(self, self.display, config=configured(fullscreen=1),
                  env={"PULSE_SERVER": "unix:/nonexistent", "ALSA_CONFIG_PATH": "/dev/null"})
        run.env.pop("SDL_AUDIODRIVER")
        run.start()
        box = wait_for(self.box_window)
        self.assertIsNotNone(box, "the box appears")
        self.assertTrue(wait_for(lambda: self.display.focus() == str(int(box, 16))), "the box has the focus")
        # A user reads the box before pressing OK; that pause is part of
        # what is tested, not a wait for something.
        time.sleep(3)
        self.display.run("xdotool", "key", "--window", box, "Return")
        self.assertTrue(wait_for(lambda: not self.box_window()), "the box is gone")

        def back():
            window = presentation_window(self.desktop)
            return (window and window.viewable and not window.iconic
                    and self.desktop.current_mode() == (800, 600)
                    and self.display.focus() == str(window.id))
        self.assertTrue(wait_for(back), "the presentation is on screen, in its mode, with the focus: %r, mode %r"
                        % (presentation_window(self.desktop), self.desktop.current_mode()))
        problem = [None]

        def pictures():
            problem[0] = screen_problem(self.desktop.screenshot(), 800, 600)
            return problem[0] is None
        self.assertTrue(wait_for(pictures, interval=0.3), problem[0])
        self.display.run("xdotool", "key", "Escape")
        self.assertEqual(run.wait(), 0)
        self.assertEqual(re.findall(r"^error: .*", run.stderr, flags=re.M), ["error: Bass_Init(-1) oops? 3"])
        self.assertEqual(run.blob(), self.pack)
        self.assertTrue(wait_for(lambda: self.desktop.current_mode() == (1920, 1080)), "the desktop's mode is back")

    def test_windows_are_placed_by_their_real_frame(self):
        # The outer window, frame included, keeps a 16-pixel margin at the
        # near and far edges and is centred between them.
        for align in (0, 1, 2):
            with self.subTest(align=align):
                caption = "%s %d" % (CAPTION, align)
                run = Run(self, self.display, config=configured(halign=align, valign=align, caption=caption)).start()
                seen = []

                def placed():
                    # The manager tells the frame after it has mapped the
                    # window; the program settles its place once it knows.
                    window = presentation_window(self.desktop, caption=caption)
                    if not window or not window.frame_extents:
                        return False
                    left, right, top, bottom = window.frame_extents
                    outer = (window.x - left, window.y - top, window.width + left + right,
                             window.height + top + bottom)
                    expected = ({0: 16, 1: (1920 - outer[2]) // 2, 2: 1920 - 16 - outer[2]}[align],
                                {0: 16, 1: (1080 - outer[3]) // 2, 2: 1080 - 16 - outer[3]}[align])
                    seen[:] = [outer, expected, window.frame_extents]
                    return ((window.width, window.height) == (800, 600) and abs(outer[0] - expected[0]) <= 1
                            and abs(outer[1] - expected[1]) <= 1)
                self.assertTrue(wait_for(placed), "outer window, where it should be, frame: %r" % (seen,))
                run.proc.send_signal(signal.SIGTERM)
                self.assertEqual(run.wait(), 0)

    def test_a_signal_during_a_box_ends_the_program_in_order(self):
        for how in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=how.name):
                run = Run(self, self.display, env={"SDL_AUDIODRIVER": "no-such-driver"}).start()
                self.assertIsNotNone(wait_for(self.box_window), "the box appears")
                run.proc.send_signal(how)
                self.assertEqual(run.wait(), 0)
                self.assertTrue(run.stdout.endswith(self.expected_write_back()), run.stdout[-300:])
                self.assertEqual(run.blob(), self.pack)
                self.assertIsNone(self.box_window(), "no box is left on screen")
                self.assertEqual(base.folder_users([run.dir]), [], "no process of the program is left")


class OnWeston(OnSession):
    """weston 10: XWayland's emulated modes, and native Wayland with
    libdecor's title bars."""

    session_kind = sessions.WestonSession

    def wait_for_screen(self, run):
        problem = [None]

        def letterboxed():
            if run.proc.poll() is not None:
                problem[0] = "the program ended: " + run.output("stderr.txt")[-500:]
                return True
            problem[0] = screen_problem(self.desktop.screenshot(), 1920, 1080)
            return problem[0] is None
        wait_for(letterboxed, interval=0.3)
        return problem[0]

    def test_full_screen_through_xwayland_fills_the_screen(self):
        run = Run(self, SessionDisplay(self.desktop), config=configured(fullscreen=1)).start()
        self.assertIsNone(self.wait_for_screen(run))
        run.proc.send_signal(signal.SIGTERM)
        self.assertEqual(run.wait(), 0)
        self.assertEqual(run.blob(), self.pack)

    def test_a_signal_during_a_wayland_box_ends_it_and_the_program(self):
        # On Wayland SDL's box is a zenity process of the program's.
        env = dict(self.desktop.environment("wayland"), SDL_AUDIODRIVER="no-such-driver")
        run = Run(self, None, env=env).start()

        def zenity_up():
            for pid in base.folder_users([run.dir]):
                try:
                    with open("/proc/%d/comm" % pid) as f:
                        if f.read().strip() == "zenity":
                            return pid
                except OSError:
                    pass
            return None
        self.assertTrue(wait_for(zenity_up), "the box's zenity runs")
        run.proc.send_signal(signal.SIGTERM)
        self.assertEqual(run.wait(), 0)
        self.assertTrue(run.stdout.endswith(self.expected_write_back()), run.stdout[-300:])
        self.assertEqual(run.blob(), self.pack)
        self.assertEqual(base.folder_users([run.dir]), [], "no zenity, nothing of the program is left")

    def test_native_wayland_toggles_and_keeps_the_aspect(self):
        run = Run(self, None, config=configured(fullscreen=1), env=self.desktop.environment("wayland")).start()
        self.assertIsNone(self.wait_for_screen(run))
        # Each toggle destroys the window and its context and makes them
        # anew: the textures are built again, and say so.
        # Nothing tells from outside when weston has given a new window the
        # keyboard: a press that came before is pressed again, as a user
        # would, and a press never counts twice.
        builds = 1
        for _ in range(4):
            self.assertTrue(run.wait_for_stdout("[pcx img:", 5 * builds), "the textures were built")
            builds += 1
            for _attempt in range(6):
                self.desktop.send_key("F4")
                if run.wait_for_stdout("[pcx img:", 5 * builds, timeout=5) or run.proc.poll() is not None:
                    break
            self.assertEqual(run.output().count("[pcx img:"), 5 * builds,
                             "F4 made the window anew: " + run.output("stderr.txt")[-500:])
        self.assertIsNone(self.wait_for_screen(run), "full screen again after four toggles")
        self.desktop.send_key("Escape")
        self.assertEqual(run.wait(), 0)
        self.assertEqual(run.stdout.count("[pcx img:"), 25)
        self.assertTrue(run.stdout.endswith(self.expected_write_back()))
        self.assertEqual(run.blob(), self.pack)


if __name__ == "__main__":
    unittest.main(verbosity=2)
