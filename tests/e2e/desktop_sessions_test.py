#!/usr/bin/env python3
"""The private desktop sessions are real ones: X.Org switches modes through
RandR and openbox frames its clients; weston shows native Wayland clients
and X clients through XWayland, and keys sent to the outer server reach its
Wayland clients. Also the parsers of the tools' output the sessions use."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from PIL import Image, ImageChops

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop_sessions import (SCRIPT, WestonSession, XorgSession, client_environment, parse_modes,  # noqa: E402
                              parse_properties, parse_session_output, parse_tree)

# The environment of a GTK client without an accessibility bus to look for.
QUIET_GTK = {"NO_AT_BRIDGE": "1", "GTK_A11Y": "none"}


def drawn_pixels(path):
    """How many pixels differ from the background, the commonest colour."""
    with Image.open(path) as image:
        image = image.convert("RGB")
        sample = image.reduce(8)
        background = max(sample.getcolors(sample.width * sample.height))[1]
        difference = ImageChops.difference(image, Image.new("RGB", image.size, background)).convert("L")
        return image.width * image.height - difference.histogram()[0]


# weston draws the pointer itself; it covers at most this many pixels. A
# client's window covers many more.
POINTER = 32 * 32


class ParserTest(unittest.TestCase):
    def test_session_output(self):
        values = parse_session_output("DISPLAY=:3\nXWAYLAND_DISPLAY=:4\nnoise\nlower=1\nXDG_RUNTIME_DIR=/a=b\n")
        self.assertEqual(values, {"DISPLAY": ":3", "XWAYLAND_DISPLAY": ":4", "XDG_RUNTIME_DIR": "/a=b"})

    def test_client_environment_drops_the_callers_display(self):
        os.environ["WAYLAND_DISPLAY"] = "wayland-elsewhere"
        try:
            env = client_environment(DISPLAY=":7", GDK_BACKEND=None)
        finally:
            del os.environ["WAYLAND_DISPLAY"]
        self.assertEqual(env["DISPLAY"], ":7")
        self.assertNotIn("WAYLAND_DISPLAY", env)
        self.assertNotIn("GDK_BACKEND", env)

    def test_tree(self):
        tree = ("  Root window id: 0x531 (the root window) (has no name)\n"
                "     2 children:\n"
                '     0x20020b "Openbox": ("" (none))  1x1+-100+-100  +-100+-100\n'
                "     0x200261 (has no name): ()  111x77+904+501  +904+501\n"
                "        1 child:\n"
                '        0x400030 "probe": ("probe" "Xmessage")  109x52+1+20  +905+521\n')
        self.assertEqual(parse_tree(tree), [(1, 0x20020B, True, "Openbox", 1, 1, -100, -100),
                                            (1, 0x200261, False, "", 111, 77, 904, 501),
                                            (2, 0x400030, True, "probe", 109, 52, 905, 521)])

    def test_properties(self):
        cases = [
            ("WM_STATE(WM_STATE):\n\t\twindow state: Iconic\n\t\ticon window: 0x0\n"
             "_NET_WM_STATE(ATOM) = _NET_WM_STATE_FULLSCREEN, _NET_WM_STATE_FOCUSED\n"
             "_NET_FRAME_EXTENTS(CARDINAL) = 1, 1, 20, 5\n"
             'WM_CLASS(STRING) = "probe", "Xmessage"\n_NET_WM_NAME(UTF8_STRING) = "a title"\n',
             ("Iconic", ("_NET_WM_STATE_FULLSCREEN", "_NET_WM_STATE_FOCUSED"), (1, 1, 20, 5), ("probe", "Xmessage"),
              "a title")),
            ("WM_STATE:  not found.\n_NET_WM_STATE(ATOM) = \n_NET_FRAME_EXTENTS:  not found.\n"
             "WM_CLASS:  not found.\n_NET_WM_NAME:  not found.\n", ("", (), (), (), None)),
        ]
        for text, expected in cases:
            with self.subTest(expected=expected):
                self.assertEqual(parse_properties(text), expected)

    def test_modes(self):
        xrandr = ("Screen 0: minimum 64 x 64, current 800 x 600, maximum 32767 x 32767\n"
                  "DUMMY0 connected primary 800x600+0+0 0mm x 0mm\n"
                  "   1920x1080     59.96 +\n   1024x768      60.00  \n   800x600       60.32*\n"
                  "DUMMY1 disconnected\n  640x480 60.00\n")
        self.assertEqual(parse_modes(xrandr), ([(1920, 1080), (1024, 768), (800, 600)], (800, 600)))


class ScriptFailureTest(unittest.TestCase):
    """A session that cannot start says why, with an exit status a caller
    can tell apart, and leaves nothing running."""

    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="desktop-failure-")
        self.addCleanup(shutil.rmtree, self.scratch, True)
        # A PATH with the X.Org server and the X tools but no openbox.
        self.no_wm = os.path.join(self.scratch, "bin")
        os.mkdir(self.no_wm)
        for program in ("bash", "Xorg", "xprop", "xrandr"):
            os.symlink(shutil.which(program), os.path.join(self.no_wm, program))

    def test_failures(self):
        cases = [
            # (what, arguments, environment, status, words on standard error)
            ("an unknown kind", ["start", "session", "gnome"], {}, 1, "usage"),
            ("a window manager not installed", ["start", "session", "xorg"], {"PATH": self.no_wm}, 3,
             "openbox (openbox)"),
            ("a server not ready in time", ["start", "session", "xorg"], {"DESKTOP_SESSION_TIMEOUT": "0"}, 2,
             "X.Org: not within 0 s"),
        ]
        for what, args, env, status, words in cases:
            with self.subTest(what):
                folder = os.path.join(self.scratch, "session")
                args = [folder if a == "session" else a for a in args]
                result = subprocess.run([SCRIPT] + args, env=dict(os.environ, **env), capture_output=True,
                                        text=True, timeout=60)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(words, result.stderr)
                self.assertEqual(result.stdout, "")
                self.assertFalse(os.path.exists(folder) and os.listdir(folder), "files left behind")
                leftovers = subprocess.run(["pgrep", "-f", folder], capture_output=True, text=True).stdout
                self.assertEqual(leftovers, "", "processes left running")


class XorgSessionTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.desktop = XorgSession().__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.desktop.stop()

    def test_randr_offers_three_modes_and_switches_between_them(self):
        desktop = self.desktop
        self.assertEqual(desktop.modes(), [(1920, 1080), (1024, 768), (800, 600)])
        self.assertEqual(desktop.current_mode(), (1920, 1080))
        output = desktop.run("xrandr", check=True).stdout.splitlines()[1].split()[0]
        for mode in [(800, 600), (1024, 768), (1920, 1080)]:
            with self.subTest(mode=mode):
                desktop.run("xrandr", "--output", output, "--mode", "%dx%d" % mode, check=True)
                self.assertEqual(desktop.current_mode(), mode)
                self.assertIn("dimensions:    %dx%d pixels" % mode, desktop.run("xdpyinfo").stdout)

    def test_openbox_frames_and_focuses_a_client(self):
        desktop = self.desktop
        desktop.popen("xmessage", "-name", "framed", "a managed window")
        window = desktop.wait_for(
            lambda: next((w for w in desktop.windows() if w.wm_class == ("framed", "Xmessage") and w.frame_extents),
                         None), "xmessage framed by openbox")
        self.assertEqual(window.wm_state, "Normal")
        self.assertTrue(window.viewable)
        self.assertEqual([w.wm_class for w in desktop.windows()], [("framed", "Xmessage")])
        left, right, top, bottom = window.frame_extents
        self.assertGreater(top, left, "a title bar above the window")
        self.assertEqual(desktop.run("xdotool", "getwindowfocus").stdout.strip(), str(window.id))
        self.assertGreater(drawn_pixels(desktop.screenshot()), window.width * window.height / 2)
        # The window manager's own key binding reaches it: Alt+F4 closes.
        # A press that came while openbox was still busy is pressed again, as
        # a user would; the window must close within the deadline all the same.
        closed = False
        for _attempt in range(6):
            desktop.send_key("alt+F4")
            try:
                desktop.wait_for(lambda: desktop.clients[-1].poll() is not None, "xmessage closed", timeout=5)
                closed = True
                break
            except AssertionError:
                pass
        self.assertTrue(closed, "xmessage closed by Alt+F4")


class WestonSessionTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.desktop = WestonSession().__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.desktop.stop()

    def test_weston_shows_wayland_and_xwayland_clients_and_passes_keys(self):
        desktop = self.desktop
        # The shell shows nothing but its plain background (and the pointer)
        # until a client maps.
        self.assertLess(drawn_pixels(desktop.screenshot()), POINTER)

        x_client = desktop.popen("xmessage", "-name", "through-xwayland", "-geometry", "400x200", "an X client")
        window = desktop.wait_for(
            lambda: next((w for w in desktop.windows() if w.wm_class == ("through-xwayland", "Xmessage")), None),
            "xmessage on XWayland")
        self.assertEqual(window.wm_state, "Normal")
        desktop.wait_for(lambda: drawn_pixels(desktop.screenshot()) > 400 * 200, "xmessage on weston's output")
        x_client.kill()
        x_client.wait()
        desktop.wait_for(lambda: drawn_pixels(desktop.screenshot()) < POINTER, "weston's output empty again")

        entry = desktop.popen("zenity", "--entry", "--text", "type here", display="wayland", env=QUIET_GTK)
        desktop.wait_for(lambda: drawn_pixels(desktop.screenshot()) > 100 * 100, "zenity on weston's output")
        self.assertEqual(desktop.run("xdotool", "getwindowfocus", display="outer").stdout.strip(),
                         str(desktop.output_window))
        desktop.type_text("velko42")
        desktop.send_key("Return")
        out, err = entry.communicate(timeout=30)
        self.assertEqual((entry.returncode, out), (0, "velko42\n"), err)


if __name__ == "__main__":
    unittest.main()
