"""Private desktop sessions for end-to-end tests, started and stopped by
scripts/desktop-session: a real X.Org server with openbox managing its
windows (XorgSession), and weston nested in one, running native Wayland
clients and X clients through XWayland (WestonSession).

    with XorgSession() as desktop:
        client = desktop.popen("velkorandi", cwd=stage)
        desktop.wait_for(lambda: desktop.windows(), "a window")
        desktop.send_key("Escape")

Each session gives the environment to run a client with (`env`, and for
weston `wayland_env`), runs commands on it, sends keys with xdotool and takes
screenshots with ImageMagick's `import` on the X.Org server (for weston that
is weston's output window, showing what the compositor shows), lists X
clients' top-level windows with their geometry and window-manager state, and
reads the current RandR mode. A session that cannot run here (a program not
installed, a server that would not start) raises unittest.SkipTest with the
reason.
"""
import dataclasses
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "desktop-session")
TIMEOUT = 30

# Variables of the caller's desktop that would send a client elsewhere.
CLIENT_VARIABLES = ("DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "SDL_VIDEODRIVER", "GDK_BACKEND",
                    "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR", "XAUTHORITY")


@dataclasses.dataclass
class Window:
    """A top-level client window of an X server."""
    id: int
    name: str
    wm_class: tuple  # (instance, class), () when unset
    x: int  # the client area's place on the root window
    y: int
    width: int
    height: int
    viewable: bool
    wm_state: str  # "Normal", "Iconic", "Withdrawn", or "" when no window manager has it
    net_wm_state: tuple  # the _NET_WM_STATE atoms, e.g. "_NET_WM_STATE_FULLSCREEN"
    frame_extents: tuple  # (left, right, top, bottom) of the frame, () when it has none

    @property
    def iconic(self):
        return self.wm_state == "Iconic"

    @property
    def fullscreen(self):
        return "_NET_WM_STATE_FULLSCREEN" in self.net_wm_state


def parse_session_output(text):
    """The KEY=VALUE lines the script prints, as a dict."""
    values = {}
    for line in text.splitlines():
        key, sep, value = line.partition("=")
        if sep and re.fullmatch(r"[A-Z_]+", key):
            values[key] = value
    return values


def client_environment(**variables):
    """The caller's environment with the variables that pick a display
    replaced by these (None removes one)."""
    env = {k: v for k, v in os.environ.items() if k not in CLIENT_VARIABLES}
    env.update({k: v for k, v in variables.items() if v is not None})
    return env


def parse_tree(text):
    """`xwininfo -root -tree` as (depth, id, has_class, name, width, height,
    x, y) per window below the root, depth 1 for the root's children; x and
    y are absolute."""
    windows = []
    base = None
    pattern = re.compile(r'^( *)(0x[0-9a-f]+) (?:"(.*)"|\(has no name\)): \((.*)\)\s+'
                         r'(\d+)x(\d+)[+-]-?\d+[+-]-?\d+\s+\+?(-?\d+)\+?(-?\d+)\s*$')
    for line in text.splitlines():
        match = pattern.match(line)
        if not match:
            continue
        indent = len(match.group(1))
        if base is None:
            base = indent
        windows.append(((indent - base) // 3 + 1, int(match.group(2), 16), bool(match.group(4).strip()),
                        match.group(3) or "", int(match.group(5)), int(match.group(6)),
                        int(match.group(7)), int(match.group(8))))
    return windows


def parse_properties(text):
    """xprop's output for WM_STATE, _NET_WM_STATE, _NET_FRAME_EXTENTS,
    WM_CLASS and _NET_WM_NAME: (wm_state, net_wm_state, frame_extents,
    wm_class, name)."""
    state = re.search(r"window state: (\w+)", text)
    net = re.search(r"^_NET_WM_STATE\(ATOM\) = (.*)$", text, re.M)
    extents = re.search(r"^_NET_FRAME_EXTENTS\(CARDINAL\) = ([\d, ]+)$", text, re.M)
    wm_class = re.search(r'^WM_CLASS\(STRING\) = "(.*)", "(.*)"$', text, re.M)
    name = re.search(r'^_NET_WM_NAME\(UTF8_STRING\) = "(.*)"$', text, re.M)
    return (state.group(1) if state else "",
            tuple(a.strip() for a in net.group(1).split(",") if a.strip()) if net else (),
            tuple(int(v) for v in extents.group(1).split(",")) if extents else (),
            (wm_class.group(1), wm_class.group(2)) if wm_class else (),
            name.group(1) if name else None)


def parse_modes(text):
    """`xrandr` of a server with one connected output: its modes as (width,
    height) in the listed order, and the current one (None when off)."""
    modes, current = [], None
    in_output = False
    for line in text.splitlines():
        if not line.startswith(" "):
            in_output = " connected" in line
            continue
        match = re.match(r"^\s+(\d+)x(\d+)\S*\s+(.*)$", line)
        if in_output and match:
            mode = (int(match.group(1)), int(match.group(2)))
            if mode not in modes:
                modes.append(mode)
            if "*" in match.group(3):
                current = mode
    return modes, current


def wait_for(condition, what, timeout=TIMEOUT, interval=0.05):
    """Polls condition() until it returns something true, which it returns;
    raises AssertionError naming what after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise AssertionError("not within %g s: %s" % (timeout, what))
        time.sleep(interval)


class DesktopSession:
    """One session of scripts/desktop-session; kind is "xorg" or "weston"."""

    kind = None

    def __init__(self):
        self.folder = None
        self.values = {}
        self.clients = []

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        parent = tempfile.mkdtemp(prefix="desktop-")
        self.folder = os.path.join(parent, "session")
        env = dict(os.environ, DESKTOP_SESSION_OWNER=str(os.getpid()))
        try:
            result = subprocess.run([SCRIPT, "start", self.folder, self.kind], env=env, capture_output=True,
                                    text=True, timeout=3 * TIMEOUT)
        except subprocess.TimeoutExpired:
            result = None
        if result is None or result.returncode != 0:
            subprocess.run([SCRIPT, "stop", self.folder], capture_output=True, timeout=TIMEOUT)
            shutil.rmtree(parent, ignore_errors=True)
            reason = result.stderr.strip() if result else "the start did not end"
            raise unittest.SkipTest("no %s session here: %s" % (self.kind, reason))
        self.values = parse_session_output(result.stdout)
        self.outer_display = self.values["DISPLAY"]
        self.outer_env = client_environment(DISPLAY=self.outer_display)
        self.env = self.outer_env
        self.x_display = self.outer_display

    def stop(self):
        for client in self.clients:
            if client.poll() is None:
                client.kill()
                client.wait(timeout=TIMEOUT)
            for stream in (client.stdin, client.stdout, client.stderr):
                if stream:
                    stream.close()
        self.clients = []
        if self.folder:
            subprocess.run([SCRIPT, "stop", self.folder], capture_output=True, timeout=TIMEOUT)
            shutil.rmtree(os.path.dirname(self.folder), ignore_errors=True)
            self.folder = None

    def environment(self, display):
        """The client environment for "x" (the display X clients use), "outer"
        (the X.Org server) or, on weston, "wayland"."""
        return {"x": self.env, "outer": self.outer_env}[display]

    def run(self, *args, display="x", env=None, timeout=10, check=False, input=None):
        """Runs a command to its end as a client of the display."""
        return subprocess.run(list(args), env=dict(self.environment(display), **(env or {})), capture_output=True,
                              text=True, timeout=timeout, check=check, input=input)

    def popen(self, *args, display="x", env=None, **kwargs):
        """Starts a client of the display; it is killed, if still running,
        when the session stops."""
        kwargs.setdefault("stdout", subprocess.PIPE)
        kwargs.setdefault("stderr", subprocess.PIPE)
        kwargs.setdefault("text", True)
        client = subprocess.Popen(list(args), env=dict(self.environment(display), **(env or {})), **kwargs)
        self.clients.append(client)
        return client

    def send_key(self, *keys, delay_ms=30):
        """Presses and releases each key (xdotool names: "Escape", "alt+F4",
        "Return") on the X.Org server, to the window with its input focus."""
        self.run("xdotool", "key", "--delay", str(delay_ms), *keys, display="outer", check=True)

    def type_text(self, text, delay_ms=30):
        self.run("xdotool", "type", "--delay", str(delay_ms), text, display="outer", check=True)

    def screenshot(self, path=None):
        """The X.Org server's screen as a PNG file (a new one in the session's
        folder unless path is given); returns its path."""
        if path is None:
            path = tempfile.mktemp(suffix=".png", dir=os.path.dirname(self.folder))
        self.run("import", "-window", "root", path, display="outer", check=True, timeout=TIMEOUT)
        return path

    def windows(self, display="x"):
        """The X server's top-level client windows: those a window manager
        manages (they have WM_STATE), and shown unmanaged ones right below
        the root that name their class."""
        # A window destroyed while xwininfo walks the tree makes the walk
        # fail (BadWindow); the next walk no longer meets it.
        for _attempt in range(5):
            listing = self.run("xwininfo", "-root", "-tree", display=display)
            if listing.returncode == 0:
                break
        listing.check_returncode()
        tree = listing.stdout
        found = []
        for depth, window, has_class, name, width, height, x, y in parse_tree(tree):
            if not has_class:
                continue
            info = self.run("xprop", "-id", hex(window), "WM_STATE", "_NET_WM_STATE", "_NET_FRAME_EXTENTS",
                            "WM_CLASS", "_NET_WM_NAME", display=display)
            if info.returncode != 0:
                continue  # gone meanwhile
            wm_state, net_wm_state, extents, wm_class, net_name = parse_properties(info.stdout)
            if not wm_state and (depth != 1 or not wm_class):
                continue
            viewable = "Map State: IsViewable" in self.run("xwininfo", "-id", hex(window), display=display).stdout
            # Unmanaged windows count while shown: a client's before its
            # window manager takes it, not the manager's own hidden ones.
            if wm_state or viewable:
                found.append(Window(window, net_name if net_name is not None else name, wm_class, x, y, width,
                                    height, viewable, wm_state, net_wm_state, extents))
        return found

    def modes(self, display="x"):
        """The RandR modes of the display's output as (width, height)."""
        return parse_modes(self.run("xrandr", display=display, check=True).stdout)[0]

    def current_mode(self, display="x"):
        """The display's current RandR mode as (width, height)."""
        return parse_modes(self.run("xrandr", display=display, check=True).stdout)[1]

    def wait_for(self, condition, what, timeout=TIMEOUT):
        return wait_for(condition, what, timeout)


class XorgSession(DesktopSession):
    """X.Org (dummy video driver, modes 1920x1080, 1024x768 and 800x600) with
    openbox. `env` runs an X client on it."""

    kind = "xorg"

    def start(self):
        super().start()
        self.pids = {"xorg": int(self.values["XORG_PID"]), "wm": int(self.values["WM_PID"])}


class WestonSession(DesktopSession):
    """weston in a fullscreen window of a private X.Org server. `env` runs an
    X client through XWayland (no Wayland variables, so toolkits cannot
    prefer Wayland); `wayland_env` runs a native Wayland client (no DISPLAY,
    SDL and GTK told to use Wayland)."""

    kind = "weston"

    def start(self):
        super().start()
        self.x_display = self.values["XWAYLAND_DISPLAY"]
        self.env = client_environment(DISPLAY=self.x_display, GDK_BACKEND="x11", SDL_VIDEODRIVER="x11")
        self.wayland_env = client_environment(WAYLAND_DISPLAY=self.values["WAYLAND_DISPLAY"],
                                              XDG_RUNTIME_DIR=self.values["XDG_RUNTIME_DIR"],
                                              SDL_VIDEODRIVER="wayland", GDK_BACKEND="wayland",
                                              QT_QPA_PLATFORM="wayland")
        self.pids = {"xorg": int(self.values["XORG_PID"]), "wm": int(self.values["WM_PID"]),
                     "weston": int(self.values["WESTON_PID"])}
        # weston's output window on the X.Org server, which has the input focus.
        self.output_window = int(self.values["WESTON_WINDOW"])

    def environment(self, display):
        if display == "wayland":
            return self.wayland_env
        return super().environment(display)
