#!/usr/bin/env python3
"""End-to-end tests: the real `demo` binary in a temporary directory, on its
own Xvfb server, with audio going to a file through SDL's disk driver (or,
for one test, to a private PulseAudio server, recorded at its sink).

Keys are sent with xdotool, message boxes are found by name with xwininfo and
dismissed with Return, screenshots are taken with ImageMagick's `import` and
probed with Pillow, and the audio file is compared with the mpg123 command's
decode of the pack's MP3.

Environment: DEMO_BIN (the program), STAGE_DIR (a folder with the default
config.xml and blob.dat), BLOBPACK_BIN (the pack tool).
"""
import array
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

DEMO = os.environ.get("DEMO_BIN", "demo")
STAGE = os.environ.get("STAGE_DIR", ".")
START_FRAME = 2672798
START_BYTES = 4 * START_FRAME
TIMEOUT = 60


class Xvfb:
    """A private X server of the size the presentation is configured for."""

    def __init__(self, width=800, height=600, font_path=None):
        # The server picks a free display number itself and tells it through
        # a pipe: X servers of other test runs (even in other root folders,
        # which share the abstract socket names) are never clashed with.
        fonts = ["-fp", font_path] if font_path else []
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % (width, height),
             "-noreset", "-nolisten", "tcp"] + fonts,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, pass_fds=(write_end,))
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            number = pipe.readline().strip()
        if not number:
            self.proc.kill()
            raise RuntimeError("Xvfb did not start")
        self.number = int(number)
        self.display = ":%d" % self.number

    def run(self, *args, check=False, timeout=10):
        env = dict(os.environ, DISPLAY=self.display)
        return subprocess.run(list(args), env=env, capture_output=True, text=True, check=check, timeout=timeout)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


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
        self.dir = tempfile.mkdtemp(prefix="demo-e2e-")
        test.addCleanup(shutil.rmtree, self.dir, True)
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

    def start(self):
        self.out = open(os.path.join(self.dir, "stdout.txt"), "wb")
        self.err = open(os.path.join(self.dir, "stderr.txt"), "wb")
        self.proc = subprocess.Popen([DEMO], cwd=self.dir, env=self.env, stdout=self.out, stderr=self.err,
                                     stdin=subprocess.DEVNULL)
        return self

    def wait(self, timeout=TIMEOUT):
        rc = self.proc.wait(timeout=timeout)
        self.out.close()
        self.err.close()
        with open(os.path.join(self.dir, "stdout.txt"), "rb") as f:
            self.stdout = f.read().decode("latin-1")
        with open(os.path.join(self.dir, "stderr.txt"), "rb") as f:
            self.stderr = f.read().decode("latin-1")
        return rc

    def window_id(self, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if self.proc.poll() is not None:
                return None
            r = self.xvfb.run("xdotool", "search", "--onlyvisible", "--name", ".")
            ids = [w for w in r.stdout.split() if w]
            for w in ids:
                name = self.xvfb.run("xdotool", "getwindowname", w).stdout.strip()
                if name and name != "error":
                    return w
            time.sleep(0.1)
        return None

    def client_origin(self):
        wid = self.window_id()
        info = self.xvfb.run("xwininfo", "-id", wid).stdout
        x = int(re.search(r"Absolute upper-left X:\s+(-?\d+)", info).group(1))
        y = int(re.search(r"Absolute upper-left Y:\s+(-?\d+)", info).group(1))
        return x, y

    def key(self, *keys):
        self.xvfb.run("xdotool", "key", *keys)

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
        cls.xvfb = Xvfb(800, 600)
        with open(os.path.join(STAGE, "blob.dat"), "rb") as f:
            cls.pack = f.read()
        cls.entries = read_pack(cls.pack)
        cls.tmp = tempfile.mkdtemp(prefix="demo-e2e-ref-")
        cls.reference = reference_pcm(cls.entries[5], cls.tmp)

    @classmethod
    def tearDownClass(cls):
        cls.xvfb.stop()
        shutil.rmtree(cls.tmp, True)

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
        """Probes a screenshot of the client area, wherever the window is
        (a window with a title bar has its client area below the frame)."""
        x, y = run.client_origin()
        shot = run.screenshot()
        # 800 x 500 drawing area centred in 800 x 600: black bars of 50 rows;
        # the square panel spans x 120..680; white beside it.
        self.assertEqual(shot.getpixel((x + 400, y + 10)), (0, 0, 0))
        self.assertEqual(shot.getpixel((x + 400, min(y + 590, 599))), (0, 0, 0))
        self.assertEqual(shot.getpixel((x + 40, y + 300)), (255, 255, 255))
        self.assertEqual(shot.getpixel((x + 760, y + 300)), (255, 255, 255))
        panel = shot.crop((x + 130, y + 60, x + 670, y + 540))
        colours = panel.getcolors(maxcolors=1 << 20)
        self.assertGreater(len(colours), 8, "the panel shows a picture, not a flat colour")

    def test_normal_run(self):
        run = Run(self, self.xvfb).start()
        self.assertIsNotNone(run.window_id(), "a window appears")
        time.sleep(2.0)
        self.assert_pictures_shown(run)
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
        # music from sample frame 2672798 on, byte for byte.
        with open(run.audio, "rb") as f:
            audio = without_trailing_silence(f.read())
        begin = first_sound(audio)
        played = audio[begin:]
        self.assertGreater(len(played), 176400, "at least a second of music was played")
        self.assertEqual(played, self.reference[START_BYTES:START_BYTES + len(played)])

    def test_f4_toggles_once_per_press(self):
        run = Run(self, self.xvfb).start()
        self.assertIsNotNone(run.window_id())
        time.sleep(0.5)
        run.key("F4")  # to full screen and straight back
        time.sleep(0.4)
        run.key("F4")
        time.sleep(0.6)
        self.assert_pictures_shown(run)
        run.key("F4")  # to full screen
        time.sleep(1.0)
        self.assert_pictures_shown(run)
        run.xvfb.run("xdotool", "keydown", "F4")  # held: back to a window, once
        time.sleep(2.0)
        run.xvfb.run("xdotool", "keyup", "F4")
        time.sleep(1.0)
        self.assert_pictures_shown(run)
        run.key("Escape")
        self.assertEqual(run.wait(), 0)
        # Every build of the textures reports the five pictures: start-up and
        # four toggles.
        self.assertEqual(run.stdout.count("[pcx img:"), 5 * 5)
        self.assertEqual(run.blob(), self.pack)
        self.assertTrue(run.stdout.endswith(self.expected_write_back()))

    def play_arrows_and_quit(self, run):
        """Starts the presentation, moves the music a quarter second forward
        and back 1.5 s apart, and quits with Escape."""
        run.start()
        self.assertIsNotNone(run.window_id())
        time.sleep(1.5)
        run.key("Right")
        time.sleep(1.5)
        run.key("Left")
        time.sleep(1.5)
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
        # buffer and the frame's age.
        latency = 4096 + 8000
        self.assertTrue(44100 - latency <= jumps[0] <= 44100, shifts)
        self.assertTrue(-44100 - latency <= jumps[1] <= -44100, shifts)

    def test_sigterm_and_alt_f4_shut_down_in_order(self):
        for how in ("sigterm", "alt+f4"):
            with self.subTest(how=how):
                run = Run(self, self.xvfb).start()
                self.assertIsNotNone(run.window_id())
                time.sleep(0.5)
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
        time.sleep(1.0)
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
        fonts = tempfile.mkdtemp(prefix="demo-e2e-nofonts-")
        self.addCleanup(shutil.rmtree, fonts, True)
        xvfb = Xvfb(800, 600, font_path=fonts)
        self.addCleanup(xvfb.stop)
        for name, kwargs, boxes in (
                ("no config.xml", {"config": False}, [NO_CONFIG_BOX, FAREWELL]),
                ("no blob.dat", {"blob": None}, [re.compile(r"[^\n]*blob\.dat[^\n]*"), FAREWELL])):
            with self.subTest(case=name):
                run = Run(self, xvfb, **kwargs)
                before = run.blob()
                started = time.monotonic()
                run.start()
                self.assertEqual(run.wait(timeout=30), 0)
                self.assertLess(time.monotonic() - started, 20, "nothing waited for a box")
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
        """Starts the presentation, lets it play a moment and quits with Escape."""
        run.start()
        self.assertIsNotNone(run.window_id(), "a window appears")
        time.sleep(1.0)
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
        self.assertEqual(os.listdir(run.dir).count("blob.dat.tmp"), 0)

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
                time.sleep(1.5)
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


def start_sound_server(folder):
    """A private PulseAudio server from scripts/sound-server, the helper the
    audio tests and the sync rig start theirs with: its PULSE_SERVER,
    XDG_RUNTIME_DIR, SERVER and PID, or unittest.SkipTest with the script's
    reason when none can run here."""
    done = subprocess.run([SOUND_SERVER, "start", folder], capture_output=True, text=True)
    if done.returncode != 0:
        raise unittest.SkipTest("no PulseAudio daemon can run here: " + done.stderr.strip())
    return dict(line.split("=", 1) for line in done.stdout.splitlines() if "=" in line)


def stop_sound_server(folder):
    subprocess.run([SOUND_SERVER, "stop", folder], capture_output=True)


class ThroughASoundServer(unittest.TestCase):
    """The presentation as a desktop plays it: SDL_AUDIODRIVER not set and a
    sound server running (a private PulseAudio daemon). Its null sink's
    monitor is recorded while the arrows move the music."""

    setUpClass = Presentation.__dict__["setUpClass"]
    tearDownClass = Presentation.__dict__["tearDownClass"]
    setUp = Presentation.setUp
    expected_write_back = Presentation.expected_write_back

    def test_arrows_move_the_heard_music_by_a_quarter_second(self):
        folder = os.path.join(tempfile.mkdtemp(prefix="demo-e2e-sound-"), "server")
        self.addCleanup(shutil.rmtree, os.path.dirname(folder), True)
        server = start_sound_server(folder)
        self.addCleanup(stop_sound_server, folder)
        run = Run(self, self.xvfb, env={"PULSE_SERVER": server["PULSE_SERVER"],
                                        "XDG_RUNTIME_DIR": server["XDG_RUNTIME_DIR"]})
        run.env.pop("SDL_AUDIODRIVER")
        # The monitor's recording at 10 ms wakes the idle null sink (it
        # renders blocks of two seconds until someone asks for less).
        recorded = os.path.join(run.dir, "monitor.raw")
        with open(recorded, "wb") as out:
            parec = subprocess.Popen(
                ["parec", "--device=velkorandi.monitor", "--format=s16le", "--rate=44100",
                 "--channels=2", "--raw", "--latency-msec=10"],
                env=dict(os.environ, PULSE_SERVER=server["PULSE_SERVER"]), stdout=out)
        self.addCleanup(parec.kill)
        deadline = time.time() + 5
        while os.path.getsize(recorded) == 0 and time.time() < deadline:
            time.sleep(0.05)
        Presentation.play_arrows_and_quit(self, run)
        parec.terminate()
        parec.wait(timeout=10)

        self.assertIn("audio: playing through the sound server (%s) at %s, sink velkorandi\n"
                      % (server["SERVER"], server["PULSE_SERVER"]), run.stderr)
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
        # jumps by a quarter second less that and the frame's age (50 ms in
        # all, at most).
        latency = 4 * 2205
        self.assertTrue(44100 - latency <= jumps[0] <= 44100, shifts)
        self.assertTrue(-44100 - latency <= jumps[1] <= -44100, shifts)


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


class SoundServerScript(unittest.TestCase):
    """scripts/sound-server must not leave a server behind when its start
    fails part-way (the tests and the rig would leak one per failure)."""

    def test_a_start_that_fails_part_way_ends_what_it_started(self):
        if not shutil.which("pipewire") or not shutil.which("pactl"):
            self.skipTest("PipeWire is not installed here")
        scratch = tempfile.mkdtemp(prefix="demo-e2e-server-")
        self.addCleanup(shutil.rmtree, scratch, True)
        # A pactl that cannot load the null sinks: the start fails after the
        # servers are up.
        tools = os.path.join(scratch, "bin")
        os.mkdir(tools)
        with open(os.path.join(tools, "pactl"), "w") as f:
            f.write('#!/bin/sh\n[ "$1" = load-module ] && exit 1\nexec %s "$@"\n'
                    % shutil.which("pactl"))
        os.chmod(os.path.join(tools, "pactl"), 0o755)
        folder = os.path.join(scratch, "server")
        done = subprocess.run([SOUND_SERVER, "start", folder, "pipewire"], capture_output=True,
                              text=True, env=dict(os.environ, PATH=tools + ":" + os.environ["PATH"]),
                              timeout=60)
        self.assertEqual(done.returncode, 2, done.stderr)
        deadline = time.time() + 5
        while processes_using(folder) and time.time() < deadline:
            time.sleep(0.1)
        self.assertEqual(processes_using(folder), [])
        self.assertFalse(os.path.exists(folder))


if __name__ == "__main__":
    unittest.main(verbosity=2)
