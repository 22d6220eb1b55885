#!/usr/bin/env python3
"""End-to-end tests: the real `velkorandi` program in a temporary directory, on its
own Xvfb server, with audio going to a file through SDL's disk driver (or,
for one test, to a private PulseAudio server, recorded at its sink).

Keys are sent with xdotool, message boxes are found by name with xwininfo and
dismissed with Return, screenshots are taken with ImageMagick's `import` and
probed with Pillow, and the audio file is compared with the mpg123 command's
decode of the pack's MP3.

Nothing is timed by sleeping: a test waits for what it needs (the window
with the focus, a frame with the pictures, the program's answer to a key, an
amount of played audio) up to a deadline that only bounds a failure, so the
suite holds on a busy machine. Every process the suite starts runs in a
process group of its own, which its test's cleanup ends; the end of the suite
fails when anything it started still runs.

Environment: VELKORANDI_BIN (the program), STAGE_DIR (a folder with the default
config.xml and blob.dat), BLOBPACK_BIN (the pack tool).
"""
import array
import contextlib
import os
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import threading
import time
import unittest

from PIL import Image

DEMO = os.environ.get("VELKORANDI_BIN", "velkorandi")
STAGE = os.environ.get("STAGE_DIR", ".")


def presentation_value(name):
    """One of the program's fixed values, read from the header that names
    them (src/config/presentation.h), so that the tests cannot disagree with
    the program."""
    header = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src",
                          "config", "presentation.h")
    with open(header, encoding="utf-8") as f:
        found = re.search(r"\b%s = (\d+);" % name, f.read())
    if not found:
        raise RuntimeError("%s has no %s" % (header, name))
    return int(found.group(1))


# Where the program starts in its music, in sample frames.
START_FRAME = presentation_value("kStartSampleFrame")
START_BYTES = 4 * START_FRAME
# Deadlines only bound a failure: a busy machine may take many times an idle
# one's time for what the tests wait for, and a pass never waits them out.
TIMEOUT = 60
ONE_SECOND = 176400  # bytes of 16-bit stereo 44100 Hz audio


def wait_for(condition, timeout=TIMEOUT, interval=0.1):
    """Polls condition until it returns something true, which is returned,
    or the deadline passes, when its last (false) result is."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result or time.monotonic() >= deadline:
            return result
        time.sleep(interval)


# Every process the suite starts and every folder it makes, so that the end
# of the suite can tell whether anything it started is still running.
STARTED = []  # (pid, its start time in clock ticks, what it is)
FOLDERS = []


def process_start(pid):
    """The start time of a live process (telling it from a later one with a
    reused id), or None when there is none or it is a zombie."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except (OSError, IndexError):
        return None
    return None if fields[0] in ("Z", "X") else int(fields[19])


def track(pid, what):
    start = process_start(pid)
    if start is not None:
        STARTED.append((pid, start, what))


def started(args, what=None, **kwargs):
    """Popen in a process group of its own, tracked: end_group ends it with
    whatever it started in turn."""
    proc = subprocess.Popen(args, start_new_session=True, **kwargs)
    track(proc.pid, what or os.path.basename(args[0]))
    return proc


@contextlib.contextmanager
def niceness(value):
    """Processes this thread starts inside get niceness value (None: as
    they are). Linux keeps the niceness per thread, and a child takes its
    starting thread's; the thread gets its own back after."""
    if value is None:
        yield
        return
    before = os.getpriority(os.PRIO_PROCESS, 0)
    try:
        os.setpriority(os.PRIO_PROCESS, 0, value)
    except PermissionError:
        yield
        return
    try:
        yield
    finally:
        os.setpriority(os.PRIO_PROCESS, 0, before)


def end_group(proc, grace=10):
    """Ends a process started by started() and its group: SIGTERM while the
    process runs, then SIGKILL for whatever is left in the group after grace
    seconds (children it left behind included)."""
    def signal_group(sig):
        try:
            os.killpg(proc.pid, sig)
        except (ProcessLookupError, PermissionError):
            pass
    if proc.poll() is None:
        signal_group(signal.SIGTERM)
        try:
            proc.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            pass
    signal_group(signal.SIGKILL)
    proc.wait()


def scratch(test, prefix):
    """A temporary folder removed when the test ends; processes naming it in
    their working folder, command line or environment count as the suite's."""
    path = tempfile.mkdtemp(prefix=prefix)
    FOLDERS.append(path)
    if test is not None:
        test.addCleanup(shutil.rmtree, path, True)
    return path


def folder_users(folders):
    """Process ids (other than this one) whose working folder, command line
    or environment names one of folders."""
    needles = [f.encode() for f in folders]
    found = []
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) == os.getpid() or process_start(int(name)) is None:
            continue
        seen = b""
        try:
            seen += os.readlink("/proc/%s/cwd" % name).encode() + b"\0"
        except OSError:
            pass
        for part in ("cmdline", "environ"):
            try:
                with open("/proc/%s/%s" % (name, part), "rb") as f:
                    seen += f.read() + b"\0"
            except OSError:
                pass
        if any(n in seen for n in needles):
            found.append(int(name))
    return found


def leftovers():
    """What the suite started that still runs: "pid (what)" each."""
    found = {pid: what for pid, start, what in STARTED if process_start(pid) == start}
    for pid in folder_users(FOLDERS):
        found.setdefault(pid, "a process in the suite's folders")
    return ["%d (%s)" % item for item in sorted(found.items())]


def tearDownModule():
    """Fails the suite when a process it started outlived its test (a sound
    server's watcher may take a second to notice its server's end). What is
    left is ended, so a failed run does not leave it running either."""
    if wait_for(lambda: not leftovers(), timeout=15, interval=0.5):
        return
    remaining = leftovers()
    for entry in remaining:
        try:
            os.kill(int(entry.split()[0]), signal.SIGKILL)
        except OSError:
            pass
    if remaining:
        raise AssertionError("processes the suite started are still running: " + ", ".join(remaining))


class Xvfb:
    """A private X server of the size the presentation is configured for."""

    def __init__(self, width=800, height=600, font_path=None):
        # The server picks a free display number itself and tells it through
        # a pipe: X servers of other test runs (even in other root folders,
        # which share the abstract socket names) are never clashed with.
        fonts = ["-fp", font_path] if font_path else []
        read_end, write_end = os.pipe()
        self.proc = started(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % (width, height),
             "-noreset", "-nolisten", "tcp"] + fonts,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, pass_fds=(write_end,))
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            number = pipe.readline().strip()
        if not number:
            end_group(self.proc)
            raise RuntimeError("Xvfb did not start")
        self.number = int(number)
        self.display = ":%d" % self.number

    def run(self, *args, check=False, timeout=30):
        env = dict(os.environ, DISPLAY=self.display)
        return subprocess.run(list(args), env=env, capture_output=True, text=True, check=check, timeout=timeout)

    def focus(self):
        """The window with the input focus, as xdotool names windows."""
        return self.run("xdotool", "getwindowfocus").stdout.strip()

    def stop(self):
        end_group(self.proc)


class BoxDismisser(threading.Thread):
    """Finds message boxes (their X window is named after the caption) and
    presses Return in each, as a user would."""

    def __init__(self, xvfb):
        super().__init__(daemon=True)
        self.xvfb = xvfb
        self.seen = set()
        self.running = True

    def run(self):
        while self.running:
            tree = self.xvfb.run("xwininfo", "-root", "-tree").stdout
            for line in tree.splitlines():
                m = re.match(r'\s*(0x[0-9a-f]+) "error":', line)
                if m:
                    self.seen.add(m.group(1))
                    self.xvfb.run("xdotool", "key", "--window", m.group(1), "Return")
                    time.sleep(0.2)
            time.sleep(0.1)

    @property
    def dismissed(self):
        return len(self.seen)

    def stop(self):
        self.running = False
        self.join(timeout=5)


class Run:
    """One run of the program in its own working directory."""

    def __init__(self, test, xvfb=None, config=None, blob="default", env=None):
        self.test = test
        self.dir = scratch(test, "demo-e2e-")
        if config is None:
            shutil.copy(os.path.join(STAGE, "config.xml"), self.dir)
        elif config is not False:
            with open(os.path.join(self.dir, "config.xml"), "w") as f:
                f.write(config)
        if blob == "default":
            shutil.copy(os.path.join(STAGE, "blob.dat"), self.dir)
        elif blob is not None:
            with open(os.path.join(self.dir, "blob.dat"), "wb") as f:
                f.write(blob)
        self.audio = os.path.join(self.dir, "audio.raw")
        self.env = dict(os.environ)
        self.env.update({
            "SDL_AUDIODRIVER": "disk",
            "SDL_DISKAUDIOFILE": self.audio,
            # The process makes a GL context: Mesa's and libdbus's own small
            # leaks cannot be attributed, so leak detection is off here.
            "ASAN_OPTIONS": "detect_leaks=0",
        })
        if xvfb:
            self.env["DISPLAY"] = xvfb.display
        else:
            self.env.pop("DISPLAY", None)
        if env:
            self.env.update(env)
        self.xvfb = xvfb
        self.proc = None

    def blob(self):
        path = os.path.join(self.dir, "blob.dat")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def start(self, ahead=False):
        """Starts the program; ahead of other work on the machine (a lower
        niceness, where this user may set one) for tests whose bounds hold
        for frames of an idle machine's speed only."""
        self.out = open(os.path.join(self.dir, "stdout.txt"), "wb")
        self.err = open(os.path.join(self.dir, "stderr.txt"), "wb")
        with niceness(-10 if ahead else None):
            self.proc = started([DEMO], "velkorandi", cwd=self.dir, env=self.env, stdout=self.out, stderr=self.err,
                                stdin=subprocess.DEVNULL)
        # Registered after the folder's removal, so it runs first: a test
        # that failed half-way leaves no program running.
        self.test.addCleanup(self.end)
        return self

    def end(self):
        end_group(self.proc)
        self.out.close()
        self.err.close()

    def output(self, name="stdout.txt"):
        """What the program has written to stdout.txt or stderr.txt so far."""
        with open(os.path.join(self.dir, name), "rb") as f:
            return f.read().decode("latin-1")

    def wait(self, timeout=TIMEOUT):
        try:
            rc = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("the program still runs %d s later; its standard error ends with %r"
                                 % (timeout, self.output("stderr.txt")[-600:])) from None
        self.out.close()
        self.err.close()
        self.stdout = self.output("stdout.txt")
        self.stderr = self.output("stderr.txt")
        return rc

    def window_id(self, timeout=TIMEOUT):
        def visible():
            if self.proc.poll() is not None:
                return "gone"
            r = self.xvfb.run("xdotool", "search", "--onlyvisible", "--name", ".")
            for w in r.stdout.split():
                name = self.xvfb.run("xdotool", "getwindowname", w).stdout.strip()
                if name and name != "error":
                    return w
            return None
        found = wait_for(visible, timeout)
        return None if found == "gone" else found

    def wait_for_focus(self, timeout=TIMEOUT):
        """Waits until the program's window has the input focus, as a user
        sees the window before pressing a key: a key sent earlier goes to
        whatever had the focus then. The window's id, or None."""
        def focused():
            wid = self.window_id(0)
            return wid if wid and self.xvfb.focus() == wid else None
        return wait_for(focused, timeout)

    def wait_for_stdout(self, text, count=1, timeout=TIMEOUT):
        """Waits until standard output holds text count times: the program's
        visible reaction to something. The count reached."""
        return wait_for(lambda: self.output().count(text) >= count, timeout) and self.output().count(text)

    def played(self):
        """Bytes of sound played so far through the disk driver, from the
        first non-silent frame to the last."""
        if not os.path.exists(self.audio):
            return 0
        with open(self.audio, "rb") as f:
            audio = without_trailing_silence(f.read())
        return max(0, len(audio) - first_sound(audio))

    def wait_for_audio(self, nbytes, timeout=TIMEOUT):
        """Waits until more than nbytes of sound were played; True if so."""
        return bool(wait_for(lambda: self.played() > nbytes, timeout, interval=0.2))

    def pictures_problem(self):
        """None when the client area shows the presentation's picture, else
        what is wrong with the latest screenshot."""
        wid = self.window_id()
        if wid is None:
            return "no window"
        x, y = self.client_origin(wid)
        shot = self.screenshot()
        # 800 x 500 drawing area centred in 800 x 600: black bars of 50 rows;
        # the square panel spans x 120..680; white beside it.
        for point, colour in (((x + 400, y + 10), (0, 0, 0)), ((x + 400, min(y + 590, 599)), (0, 0, 0)),
                              ((x + 40, y + 300), (255, 255, 255)), ((x + 760, y + 300), (255, 255, 255))):
            if shot.getpixel(point) != colour:
                return "%r at %r, not %r" % (shot.getpixel(point), point, colour)
        colours = shot.crop((x + 130, y + 60, x + 670, y + 540)).getcolors(maxcolors=1 << 20)
        if len(colours) <= 8:
            return "the panel shows %d colours, not a picture" % len(colours)
        return None

    def wait_for_pictures(self, timeout=TIMEOUT):
        """Waits until a frame with the pictures is on screen: None then,
        else what the last screenshot showed instead."""
        problem = [None]

        def shown():
            problem[0] = self.pictures_problem()
            return problem[0] is None
        wait_for(shown, timeout, interval=0.3)
        return problem[0]

    def client_origin(self, wid=None):
        wid = wid or self.window_id()
        info = self.xvfb.run("xwininfo", "-id", wid).stdout
        x = int(re.search(r"Absolute upper-left X:\s+(-?\d+)", info).group(1))
        y = int(re.search(r"Absolute upper-left Y:\s+(-?\d+)", info).group(1))
        return x, y

    def key(self, *keys, action="key"):
        """Presses keys (action "keydown" or "keyup" for half a press) once
        the window has the focus."""
        self.test.assertIsNotNone(self.wait_for_focus(), "the window has the input focus")
        self.xvfb.run("xdotool", action, *keys)

    def screenshot(self):
        path = os.path.join(self.dir, "shot-%d.png" % time.monotonic_ns())
        self.xvfb.run("import", "-window", "root", path, check=True, timeout=20)
        return Image.open(path).convert("RGB")


def read_pack(data):
    count = struct.unpack_from("<I", data, len(data) - 4)[0]
    directory = len(data) - 4 - 8 * count
    entries = []
    pos = 4
    for i in range(count):
        _, size = struct.unpack_from("<II", data, directory + 8 * i)
        entries.append(data[pos:pos + size])
        pos += size
    return entries


def reference_pcm(mp3_bytes, workdir):
    path = os.path.join(workdir, "music.mp3")
    with open(path, "wb") as f:
        f.write(mp3_bytes)
    return subprocess.run(["mpg123", "-q", "-s", "-r", "44100", "--stereo", path], capture_output=True,
                          check=True).stdout


def pcx_extrema(pcx_bytes, workdir):
    path = os.path.join(workdir, "p.pcx")
    with open(path, "wb") as f:
        f.write(pcx_bytes)
    img = Image.open(path).convert("RGB")
    lo = min(e[0] for e in img.getextrema())
    hi = max(e[1] for e in img.getextrema())
    return img.size, lo, hi


def box_texts(stderr):
    """Standard error less the lines that are not box texts: SDL's own
    warnings, the platform's note that a box could not be drawn and the audio
    library's notes (which output plays, and why). What is left is every
    box's "caption: text", in order, whether or not the desktop could show
    it."""
    return "".join(line for line in stderr.splitlines(True)
                   if not line.startswith(("CRITICAL:", "platform: ", "audio: ")))


def boxes_pattern(expected_boxes):
    """A box text may be given as a compiled pattern where its wording is not fixed."""
    return "^" + "".join("error: " + (t.pattern if isinstance(t, re.Pattern) else re.escape(t)) + "\n"
                         for t in expected_boxes) + "$"


FAREWELL = "demo attempt was a complete failure.. \n bye"
NO_CONFIG_BOX = "an xml errors occured FILE `config.xml` is missing or not readable :(\n "


def shifts_through(audio, reference):
    """Follows played audio through the reference in chunks from its first
    sound on, which must be the music from the start frame: the shift (in
    bytes) of each stretch against that, one entry per stretch."""
    begin = first_sound(audio)
    chunk = 4096
    shifts = []
    for pos in range(begin, len(audio) - chunk, chunk):
        piece = audio[pos:pos + chunk]
        expected_at = START_BYTES + (pos - begin) + (shifts[-1] if shifts else 0)
        if reference[expected_at:expected_at + chunk] == piece:
            if not shifts:
                shifts.append(0)
            continue
        found = reference.find(piece, max(0, expected_at - 3 * 176400), expected_at + 3 * 176400)
        if found >= 0 and found % 4 == 0:
            shifts.append(found - START_BYTES - (pos - begin))
    return shifts


def without_silent_frames(audio):
    """A recording less its silent sample frames. A sink whose stream ran dry
    for a moment (a busy machine kept the player from its next buffer) plays
    silence, then goes on where it stopped: no seek. The music has no silent
    frame in the part the tests play, so what is left is the music as it was
    played, seeks and all."""
    frames = array.array("I", audio[:len(audio) & ~3])
    return array.array("I", (f for f in frames if f)).tobytes()


def first_sound(audio):
    """Offset of the first non-silent sample frame."""
    stripped = audio.lstrip(b"\0")
    return (len(audio) - len(stripped)) & ~3


def without_trailing_silence(audio):
    """A stopped or closing device goes on writing silence."""
    end = len(audio.rstrip(b"\0"))
    return audio[:(end + 3) & ~3]


class Presentation(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Class cleanups, not tearDownClass: they run even when this set-up
        # fails half-way.
        cls.xvfb = Xvfb(800, 600)
        cls.addClassCleanup(cls.xvfb.stop)
        cls.tmp = scratch(None, "demo-e2e-ref-")
        cls.addClassCleanup(shutil.rmtree, cls.tmp, True)
        with open(os.path.join(STAGE, "blob.dat"), "rb") as f:
            cls.pack = f.read()
        cls.entries = read_pack(cls.pack)
        cls.reference = reference_pcm(cls.entries[5], cls.tmp)

    @classmethod
    def tearDownClass(cls):
        """The server and the folder end with the class cleanups."""

    def setUp(self):
        self.boxes = BoxDismisser(self.xvfb)
        self.boxes.start()
        self.addCleanup(self.boxes.stop)

    def expected_pictures_console(self):
        text = ""
        for entry in self.entries[:5]:
            (w, h), lo, hi = pcx_extrema(entry, self.tmp)
            text += "[pcx img: %ix%i 24]\n range [%i,%i] \n" % (w, h, lo, hi)
        return text

    def expected_write_back(self):
        text, offset = "", 0
        for entry in self.entries:
            text += "offset %i |\t size %i bytes\n" % (offset, len(entry))
            offset += len(entry)
        return text + "io are out! %i bytes read in %i files,\n" % (offset, len(self.entries))

    def assert_pictures_shown(self, run):
        """Probes screenshots of the client area, wherever the window is (a
        window with a title bar has its client area below the frame), until
        one shows the pictures."""
        problem = run.wait_for_pictures()
        self.assertIsNone(problem, "the pictures are drawn within %d s" % TIMEOUT)

    def test_normal_run(self):
        run = Run(self, self.xvfb).start()
        self.assertIsNotNone(run.window_id(), "a window appears")
        self.assert_pictures_shown(run)
        self.assertTrue(run.wait_for_audio(ONE_SECOND), "a second of music is played within %d s" % TIMEOUT)
        run.key("Escape")
        self.assertEqual(run.wait(), 0)
        expected = ("window : 800 x 600 : 32b \n"
                    "area : 800 x 500 \n"
                    " ALIGNment:1,1 \n"
                    " len 890867  len 891049  len 890882   io are go!\n"
                    + self.expected_pictures_console()
                    + "BASS.DLL == 2.3.0.0 \n"
                    + self.expected_write_back())
        self.assertEqual(run.stdout, expected)
        self.assertEqual(run.blob(), self.pack)
        self.assertEqual(self.boxes.dismissed, 0)
        # What the device played: silence at most, then the decode of the
        # music from sample frame START_FRAME on, byte for byte.
        with open(run.audio, "rb") as f:
            audio = without_trailing_silence(f.read())
        begin = first_sound(audio)
        played = audio[begin:]
        self.assertGreater(len(played), ONE_SECOND, "at least a second of music was played")
        self.assertEqual(played, self.reference[START_BYTES:START_BYTES + len(played)])

    def test_f4_toggles_once_per_press(self):
        run = Run(self, self.xvfb).start()
        self.assertIsNotNone(run.window_id())
        builds = [1]

        def toggled():
            # Each toggle builds the textures again, reporting the five
            # pictures: the program's sign that it took the key.
            builds[0] += 1
            self.assertEqual(run.wait_for_stdout("[pcx img:", 5 * builds[0]), 5 * builds[0],
                             "F4 number %d is taken within %d s" % (builds[0] - 1, TIMEOUT))

        self.assertEqual(run.wait_for_stdout("[pcx img:", 5), 5)
        run.key("F4")  # to full screen and straight back
        toggled()
        run.key("F4")
        toggled()
        self.assert_pictures_shown(run)
        run.key("F4")  # to full screen
        toggled()
        self.assert_pictures_shown(run)
        run.key("F4", action="keydown")  # held: back to a window, once
        toggled()
        # Held on for X's auto-repeat (after 660 ms, 25 a second): none of
        # the repeats may toggle again.
        time.sleep(2.0)
        run.key("F4", action="keyup")
        self.assert_pictures_shown(run)
        run.key("Escape")
        self.assertEqual(run.wait(), 0)
        # Every build of the textures reports the five pictures: start-up and
        # four toggles.
        self.assertEqual(run.stdout.count("[pcx img:"), 5 * 5)
        self.assertEqual(run.blob(), self.pack)
        self.assertTrue(run.stdout.endswith(self.expected_write_back()))

    def play_arrows_and_quit(self, run, heard=None):
        """Starts the presentation, moves the music a quarter second forward
        and back, and quits with Escape. heard() is the audio as played so
        far (the disk driver's file by default): a second of music is heard
        before the first key, and each key's jump is heard, a second of music
        on, before the next key."""
        def played_audio():
            if not os.path.exists(run.audio):
                return b""
            with open(run.audio, "rb") as f:
                return f.read()
        heard = heard or played_audio

        def after_shifts(count):
            # shifts_through sees a jump once a whole chunk past it was
            # played; a second more keeps the stretches between keys long.
            def enough():
                audio = heard()
                shifts = shifts_through(audio, self.reference)
                return len(shifts) >= count and len(audio) - first_sound(audio) > ONE_SECOND * count
            self.assertTrue(wait_for(enough, interval=0.2),
                            "%d stretches of music heard within %d s, found shifts %r"
                            % (count, TIMEOUT, shifts_through(heard(), self.reference)))

        # A key moves the music from its position at the last frame, so the
        # jumps' bounds allow a frame's age of an idle machine (tens of
        # milliseconds); on a busy one a frame of the software renderer can
        # take a tenth of a second and more. The program runs ahead of the
        # other work, as a presentation in the foreground would.
        run.start(ahead=True)
        self.assertIsNotNone(run.window_id())
        after_shifts(1)
        run.key("Right")
        after_shifts(2)
        run.key("Left")
        after_shifts(3)
        run.key("Escape")
        self.assertEqual(run.wait(), 0)

    def test_arrows_move_the_music_by_a_quarter_second(self):
        run = Run(self, self.xvfb)
        self.play_arrows_and_quit(run)
        with open(run.audio, "rb") as f:
            audio = f.read()
        shifts = shifts_through(audio, self.reference)
        jumps = [b - a for a, b in zip(shifts, shifts[1:])]
        self.assertEqual(len(jumps), 2, "two jumps, found shifts %r" % shifts)
        # A seek starts from the position of the last frame and cannot take
        # back the buffer already handed to the device (1024 frames with the
        # disk driver), so what is heard jumps by a quarter second less that
        # buffer and the frame's age. The sanitizer build beside two busy
        # processes draws a frame every 70 ms at times: ages up to 100 ms
        # (17640 bytes) are allowed, well short of another quarter second.
        latency = 4096 + 17640
        self.assertTrue(44100 - latency <= jumps[0] <= 44100, shifts)
        self.assertTrue(-44100 - latency <= jumps[1] <= -44100, shifts)

    def test_sigterm_and_alt_f4_shut_down_in_order(self):
        for how in ("sigterm", "alt+f4"):
            with self.subTest(how=how):
                run = Run(self, self.xvfb).start()
                self.assertIsNotNone(run.wait_for_focus(), "the window appears and has the focus")
                if how == "sigterm":
                    run.proc.send_signal(signal.SIGTERM)
                else:
                    run.key("alt+F4")
                self.assertEqual(run.wait(), 0)
                self.assertTrue(run.stdout.endswith(self.expected_write_back()))
                self.assertEqual(run.blob(), self.pack)

    def run_failing(self, expected_boxes, **kwargs):
        """Runs the program to its end and checks that exactly the expected
        boxes were shown, in order (each box is echoed on standard error as
        "error: text"). An entry may be a compiled pattern for a text whose
        wording is not fixed."""
        run = Run(self, self.xvfb, **kwargs)
        before = run.blob()
        run.start()
        self.assertEqual(run.wait(), 0)
        self.assertRegex(box_texts(run.stderr), boxes_pattern(expected_boxes))
        self.assertGreaterEqual(self.boxes.dismissed, 1, "a box was on screen")
        self.assertEqual(run.blob(), before, "blob.dat untouched")
        return run

    def default_config(self):
        with open(os.path.join(STAGE, "config.xml")) as f:
            return f.read()

    def test_bad_settings_end_the_program_with_their_boxes(self):
        # Each case runs with its own dismisser, so the boxes are counted per run.
        farewell = FAREWELL
        self.run_failing([NO_CONFIG_BOX, farewell], config=False)
        config = self.default_config()
        broken = config.replace("</window>", "</windows></window>", 1)
        line = config[:config.index("</window>")].count("\n") + 1
        self.run_failing(["fatal:\n0.no opener for </WINDOWS> on line %i\n1.parsing `config.xml` failed" % line,
                          farewell], config=broken)
        no_okkie = re.sub(r"<okkie>.*?</okkie>", "", self.default_config(), flags=re.S | re.I)
        self.run_failing(["fatal in xml\nerror: node `OKKIE[0]` not found ", farewell], config=no_okkie)

    def test_bad_pack_ends_the_program_untouched(self):
        farewell = FAREWELL
        for name, blob in (("missing", None), ("truncated", self.pack[:len(self.pack) // 2])):
            with self.subTest(pack=name):
                # One box of its own says what is wrong with the pack, first.
                run = self.run_failing([re.compile(r"[^\n]*blob\.dat[^\n]*"), farewell], blob=blob)
                self.assertNotIn("io are out!", run.stdout)

    def test_no_audio_device_runs_silently_on_the_clock(self):
        run = Run(self, self.xvfb, env={"SDL_AUDIODRIVER": "no-such-driver"}).start()
        self.assertIsNotNone(run.window_id())
        self.assert_pictures_shown(run)
        run.key("Escape")
        self.assertEqual(run.wait(), 0)
        self.assertRegex(run.stderr, r"error: Bass_Init\(-1\) oops\? -?\d+")
        self.assertEqual(run.blob(), self.pack)


class DisplayWithoutFonts(unittest.TestCase):
    """An X server without core fonts cannot draw SDL's boxes. The program
    must then go on as after a dismissed box: the text on standard error,
    nothing waiting for a click that can never come."""

    def test_boxes_that_cannot_be_drawn_do_not_block(self):
        fonts = scratch(self, "demo-e2e-nofonts-")
        xvfb = Xvfb(800, 600, font_path=fonts)
        self.addCleanup(xvfb.stop)
        # SDL asks zenity for a box first where it is installed, and zenity
        # draws with fonts of its own: a PATH without it leaves SDL's own X11
        # box, the one that needs the server's fonts.
        no_tools = {"PATH": scratch(self, "demo-e2e-nopath-")}
        for name, kwargs, boxes in (
                ("no config.xml", {"config": False}, [NO_CONFIG_BOX, FAREWELL]),
                ("no blob.dat", {"blob": None}, [re.compile(r"[^\n]*blob\.dat[^\n]*"), FAREWELL])):
            with self.subTest(case=name):
                run = Run(self, xvfb, env=no_tools, **kwargs)
                before = run.blob()
                began = time.monotonic()
                run.start()
                self.assertEqual(run.wait(timeout=30), 0)
                self.assertLess(time.monotonic() - began, 20, "nothing waited for a box")
                self.assertRegex(box_texts(run.stderr), boxes_pattern(boxes))
                self.assertIn("platform: SDL_ShowSimpleMessageBox failed", run.stderr,
                              "the reason the box is missing is given")
                self.assertNotIn('"error"', xvfb.run("xwininfo", "-root", "-tree").stdout)
                self.assertEqual(run.blob(), before, "blob.dat untouched")


def pack_bytes(entries):
    """A pack in the layout the program writes: magic, entries, directory, count."""
    out = struct.pack("<I", 0x66600999) + b"".join(entries)
    offset = 0
    for entry in entries:
        out += struct.pack("<II", offset, len(entry))
        offset += len(entry)
    return out + struct.pack("<I", len(entries))


class HostileFiles(unittest.TestCase):
    """Damaged and unusual blob.dat files: refused without being touched, or
    written back the way the user keeps them."""

    # The private X server, the default pack and a box dismisser per test, as
    # the presentation's own tests have them.
    setUpClass = Presentation.__dict__["setUpClass"]
    tearDownClass = Presentation.__dict__["tearDownClass"]
    setUp = Presentation.setUp

    def run_and_quit(self, run):
        """Starts the presentation and quits with Escape once its window has
        the focus."""
        run.start()
        self.assertIsNotNone(run.window_id(), "a window appears")
        run.key("Escape")
        self.assertEqual(run.wait(), 0)

    def test_a_damaged_pack_is_refused_and_the_file_kept(self):
        for count in (0, 5):
            with self.subTest(count=count):
                damaged = self.pack[:-4] + struct.pack("<I", count)
                box = re.compile(r"read_pack: blob\.dat is damaged: its magic word, %d entries of \d+ bytes, "
                                 r"directory and count account for \d+ of its %d bytes" % (count, len(damaged)))
                run = Presentation.run_failing(self, [box, FAREWELL], blob=damaged)
                self.assertEqual(run.blob(), damaged)
                self.assertNotIn("io are out!", run.stdout)
        # Every byte accounted for, but the first word is not a pack's.
        damaged = b"\x12" + self.pack[1:]
        Presentation.run_failing(self, ["read_pack: blob.dat is not a pack: it starts with 0x66600912, "
                                        "not the magic word 0x66600999", FAREWELL], blob=damaged)

    def test_a_symlinked_pack_is_written_through_its_link(self):
        run = Run(self, self.xvfb, blob=None)
        os.mkdir(os.path.join(run.dir, "real"))
        target = os.path.join(run.dir, "real", "pack.dat")
        with open(target, "wb") as f:
            f.write(self.pack)
        link = os.path.join(run.dir, "blob.dat")
        os.symlink("real/pack.dat", link)
        before = os.stat(target).st_ino
        self.run_and_quit(run)
        self.assertTrue(os.path.islink(link), "the link stays a link")
        self.assertEqual(os.readlink(link), "real/pack.dat")
        self.assertNotEqual(os.stat(target).st_ino, before, "the target was replaced")
        with open(target, "rb") as f:
            self.assertEqual(f.read(), self.pack)
        self.assertEqual(sorted(os.listdir(os.path.join(run.dir, "real"))), ["pack.dat"])
        self.assertEqual(box_texts(run.stderr), "")

    def test_the_mode_is_kept(self):
        run = Run(self, self.xvfb)
        path = os.path.join(run.dir, "blob.dat")
        os.chmod(path, 0o600)
        before = os.stat(path).st_ino
        self.run_and_quit(run)
        self.assertNotEqual(os.stat(path).st_ino, before, "the pack was written back")
        self.assertEqual(os.stat(path).st_mode & 0o7777, 0o600)
        self.assertEqual(run.blob(), self.pack)

    def test_a_read_only_pack_is_left_alone(self):
        run = Run(self, self.xvfb)
        path = os.path.join(run.dir, "blob.dat")
        os.chmod(path, 0o444)
        before = os.stat(path)
        self.run_and_quit(run)
        self.assertEqual(box_texts(run.stderr),
                         "error: write_pack: blob.dat is read-only for this user (Permission denied); "
                         "it is left as it was\n")
        self.assertGreaterEqual(self.boxes.dismissed, 1, "the box was on screen")
        after = os.stat(path)
        self.assertEqual((after.st_ino, after.st_mtime_ns, after.st_mode & 0o7777),
                         (before.st_ino, before.st_mtime_ns, 0o444))
        self.assertEqual(run.blob(), self.pack)
        # Nothing but the test's own files and the writer's lock is left: no
        # temporary file of the write-back, whatever its name.
        own = {"config.xml", "blob.dat", "stdout.txt", "stderr.txt", "audio.raw", ".blob.dat.lock"}
        self.assertEqual([name for name in os.listdir(run.dir)
                          if name not in own and not re.fullmatch(r"shot-\d+\.png", name)], [])

    def test_a_truncated_picture_is_named_and_the_presentation_goes_on(self):
        up = self.entries[0][:len(self.entries[0]) // 2]
        damaged = pack_bytes([up] + self.entries[1:])
        run = Run(self, self.xvfb, blob=damaged)
        self.run_and_quit(run)
        self.assertEqual(box_texts(run.stderr),
                         "error: decode_pcx: picture of %d bytes refused: the picture data ends before the "
                         "picture is complete (entry `up` of blob.dat)\n" % len(up))
        self.assertIn("[pcx img: 0x0 24]\n", run.stdout)
        self.assertIn("io are out!", run.stdout)
        self.assertEqual(run.blob(), damaged, "written back unchanged")

    def test_music_that_cannot_be_played_is_named_and_the_pictures_go_on(self):
        wav = b"RIFF" + struct.pack("<I", 36) + b"WAVEfmt " + bytes(40)
        for name, entries, reason in (
                ("a WAV file", self.entries[:5] + [wav], "it is not an MP3 (no MPEG audio frames in it)"),
                ("an empty entry", self.entries[:5] + [b""], "it is empty"),
                ("five entries", self.entries[:5], "the pack has no such entry")):
            with self.subTest(music=name):
                damaged = pack_bytes(entries)
                run = Run(self, self.xvfb, blob=damaged)
                run.start()
                self.assertIsNotNone(run.window_id(), "a window appears")
                self.assert_pictures_shown(run)
                run.key("Escape")
                self.assertEqual(run.wait(), 0)
                self.assertEqual(box_texts(run.stderr),
                                 "error: BASS_StreamCreateFile failed: the music, entry 6 of blob.dat, cannot be "
                                 "played: %s; the presentation goes on without sound\n" % reason)
                self.assertEqual(run.blob(), damaged, "written back unchanged")
                if os.path.exists(run.audio):
                    with open(run.audio, "rb") as f:
                        self.assertEqual(f.read().strip(b"\0"), b"", "nothing but silence was played")

    assert_pictures_shown = Presentation.assert_pictures_shown

    def test_a_caption_beyond_ascii_is_the_window_title(self):
        caption = "Velkorandi \u2013 \u00e9t\u00e9 \u2606"
        config = re.sub(r"<caption>.*?</caption>", "<caption>%s</caption>" % caption,
                        Presentation.default_config(self), flags=re.S | re.I)
        run = Run(self, self.xvfb, config=None)
        with open(os.path.join(run.dir, "config.xml"), "w", encoding="utf-8") as f:
            f.write(config)
        run.start()
        titles = []
        deadline = time.time() + 20
        while time.time() < deadline and caption not in titles:
            time.sleep(0.2)
            tree = self.xvfb.run("xwininfo", "-root", "-tree").stdout
            titles = []
            for wid in re.findall(r"^\s+(0x[0-9a-f]+) ", tree, flags=re.M):
                prop = subprocess.run(["xprop", "-id", wid, "_NET_WM_NAME"], capture_output=True,
                                      env=dict(os.environ, DISPLAY=self.xvfb.display)).stdout
                m = re.search(rb'= "(.*)"', prop)
                if m:
                    titles.append(m.group(1).decode("utf-8", "replace"))
        self.assertIn(caption, titles)
        run.proc.send_signal(signal.SIGTERM)
        self.assertEqual(run.wait(), 0)
        self.assertEqual(run.blob(), self.pack)


SOUND_SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                            "sound-server")


def start_sound_server(folder, kind="pulseaudio"):
    """A private PulseAudio (or, with kind "pipewire", PipeWire) server from
    scripts/sound-server, the helper the audio tests and the sync rig start
    theirs with: its PULSE_SERVER, XDG_RUNTIME_DIR, SERVER and PID, or
    unittest.SkipTest with the script's reason when none can run here."""
    # The folder and the server's id are the suite's: a server outliving
    # its test fails the suite.
    FOLDERS.append(os.path.abspath(folder))
    done = subprocess.run([SOUND_SERVER, "start", folder] + ([kind] if kind == "pipewire" else []),
                          capture_output=True, text=True, start_new_session=True, timeout=120)
    if done.returncode != 0:
        raise unittest.SkipTest("no %s server can run here: %s" % (kind, done.stderr.strip()))
    server = dict(line.split("=", 1) for line in done.stdout.splitlines() if "=" in line)
    if server.get("PID", "").isdigit():
        track(int(server["PID"]), "sound server")
    return server


def stop_sound_server(folder):
    subprocess.run([SOUND_SERVER, "stop", folder], capture_output=True, start_new_session=True, timeout=60)


class ThroughASoundServer(unittest.TestCase):
    """The presentation as a desktop plays it: SDL_AUDIODRIVER not set and a
    sound server running (a private PulseAudio daemon, or PipeWire, which the
    program speaks to natively). Its null sink's monitor is recorded while
    the arrows move the music."""

    setUpClass = Presentation.__dict__["setUpClass"]
    tearDownClass = Presentation.__dict__["tearDownClass"]
    setUp = Presentation.setUp
    expected_write_back = Presentation.expected_write_back

    def test_arrows_move_the_heard_music_by_a_quarter_second(self):
        server = self.arrows_through("pulseaudio")
        self.assertIn("audio: playing through the sound server (%s) at %s, sink velkorandi\n"
                      % (server["SERVER"], server["PULSE_SERVER"]), self.run_stderr)

    def test_arrows_move_the_heard_music_by_a_quarter_second_on_pipewire(self):
        server = self.arrows_through("pipewire")
        self.assertIn("audio: playing through %s (native), sink velkorandi\n" % server["SERVER"],
                      self.run_stderr)

    def arrows_through(self, kind):
        folder = os.path.join(scratch(self, "demo-e2e-sound-"), "server")
        server = start_sound_server(folder, kind)
        self.addCleanup(stop_sound_server, folder)
        run = Run(self, self.xvfb, env={"PULSE_SERVER": server["PULSE_SERVER"],
                                        "XDG_RUNTIME_DIR": server["XDG_RUNTIME_DIR"]})
        # The program finds the private server's sockets, never the user's.
        for name in ("SDL_AUDIODRIVER", "PIPEWIRE_REMOTE", "PIPEWIRE_RUNTIME_DIR"):
            run.env.pop(name, None)
        # The monitor's recording at 10 ms wakes the idle null sink (it
        # renders blocks of two seconds until someone asks for less).
        recorded = os.path.join(run.dir, "monitor.raw")
        with open(recorded, "wb") as out:
            parec = started(
                ["parec", "--device=velkorandi.monitor", "--format=s16le", "--rate=44100",
                 "--channels=2", "--raw", "--latency-msec=10"],
                env=dict(os.environ, PULSE_SERVER=server["PULSE_SERVER"]), stdout=out)
        self.addCleanup(end_group, parec)
        self.assertTrue(wait_for(lambda: os.path.getsize(recorded) > 0, interval=0.05), "the recording runs")

        def heard():
            with open(recorded, "rb") as f:
                return without_silent_frames(f.read())
        Presentation.play_arrows_and_quit(self, run, heard)
        end_group(parec)

        self.run_stderr = run.stderr
        self.assertEqual(box_texts(run.stderr), "")
        self.assertEqual(run.blob(), self.pack)
        self.assertTrue(run.stdout.endswith(self.expected_write_back()))
        with open(recorded, "rb") as f:
            audio = without_silent_frames(f.read())
        shifts = shifts_through(audio, self.reference)
        jumps = [b - a for a, b in zip(shifts, shifts[1:])]
        self.assertEqual(len(jumps), 2, "two jumps, found shifts %r" % shifts)
        # The position is the frame being heard, and a seek drops what the
        # server holds but what its sink has already taken: the heard music
        # jumps by a quarter second less that and the frame's age: 50 ms in
        # all on an idle machine, and frames up to 100 ms old beside two busy
        # processes (17640 bytes), well short of another quarter second.
        latency = 4 * 2205 + 17640
        self.assertTrue(44100 - latency <= jumps[0] <= 44100, shifts)
        self.assertTrue(-44100 - latency <= jumps[1] <= -44100, shifts)
        return server


def processes_using(folder):
    """Process ids whose environment names folder (a server's runtime)."""
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if folder.encode() in f.read():
                    found.append(int(pid))
        except OSError:
            pass
    return found


class Harness(unittest.TestCase):
    """The suite's own cleanup: a process it started is ended with whatever
    it started in turn, even one that ignores the polite request."""

    def test_a_group_ends_with_its_children(self):
        for name, script in (("with a child", "sleep 300 & sleep 300"),
                             ("ignoring SIGTERM", "trap '' TERM; sleep 300 & wait; wait")):
            with self.subTest(case=name):
                where = scratch(self, "demo-e2e-harness-")
                proc = started(["sh", "-c", script, where], cwd=where)
                self.assertTrue(wait_for(lambda: len(folder_users([where])) >= 2), "the child runs")
                end_group(proc, grace=1)
                self.assertTrue(wait_for(lambda: not folder_users([where]), timeout=10),
                                "left running: %r" % folder_users([where]))
                self.assertNotIn(proc.pid, [int(entry.split()[0]) for entry in leftovers()])


class SoundServerScript(unittest.TestCase):
    """scripts/sound-server must not leave a server behind when its start
    fails part-way (the tests and the rig would leak one per failure)."""

    def test_a_start_that_fails_part_way_ends_what_it_started(self):
        if not shutil.which("pipewire") or not shutil.which("pactl"):
            self.skipTest("PipeWire is not installed here")
        top = scratch(self, "demo-e2e-server-")
        # A pactl that cannot load the null sinks: the start fails after the
        # servers are up.
        tools = os.path.join(top, "bin")
        os.mkdir(tools)
        with open(os.path.join(tools, "pactl"), "w") as f:
            f.write('#!/bin/sh\n[ "$1" = load-module ] && exit 1\nexec %s "$@"\n'
                    % shutil.which("pactl"))
        os.chmod(os.path.join(tools, "pactl"), 0o755)
        folder = os.path.join(top, "server")
        done = subprocess.run([SOUND_SERVER, "start", folder, "pipewire"], capture_output=True,
                              text=True, env=dict(os.environ, PATH=tools + ":" + os.environ["PATH"]),
                              timeout=120, start_new_session=True)
        self.assertEqual(done.returncode, 2, done.stderr)
        wait_for(lambda: not processes_using(folder), timeout=10)
        self.assertEqual(processes_using(folder), [])
        self.assertFalse(os.path.exists(folder))


if __name__ == "__main__":
    unittest.main(verbosity=2)
