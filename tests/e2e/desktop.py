#!/usr/bin/env python3
"""The program as a person uses it, checked only from outside.

The real `orviloop --play FILE` runs on its own X screen (Xvfb, 1280x800) with a real window
manager (openbox) and its own PulseAudio server with a null sink, in the learners' locales. Keys
go with xdotool to whichever window has the focus, as a keyboard's do; the screen is read back by
OCR (tesseract), the sound is recorded from the sink's monitor, the window's size comes from the
X server. The lessons are made here: spoken English sentences (espeak-ng) as a video with a plain
background and as an MP3, and a 400 Hz tone.

Usage: desktop.py [unittest options]; the program is $ORVILOOP_BUILD_DIR/orviloop. ORVILOOP_E2E_LANG
names another locale for the checks that are not about locales (e.g. C, to look past a locale fault).
"""

import array
import ctypes
import math
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

PROGRAM = Path(os.environ.get("ORVILOOP_BUILD_DIR", "build")) / "orviloop"
SCREEN = (1280, 800)
# The learners' locale, in which the program runs unless a check names another.
LEARNER_LANG = os.environ.get("ORVILOOP_E2E_LANG", "zh_CN.UTF-8")
RATE = 16000  # samples per second recorded from the sink
SENTENCES = ["GREEN APPLES", "PURPLE MOUNTAIN", "SILVER BICYCLE"]
TONE_HZ = 400.0
VIDEO_COLOUR, VIDEO_TOP_COLOUR = "#405060", "#C08020"  # the video lesson's picture, and its top quarter
PR_SET_PDEATHSIG = 1
TOOLS = ["Xvfb", "openbox", "xdotool", "xprop", "xwininfo", "import", "tesseract", "pulseaudio",
         "pactl", "parec", "espeak-ng", "sox", "ffmpeg", "convert"]


def wait_for(what, check, timeout, every=0.2):
    """Polls check() until it returns something true; its last value, or a failure naming what."""
    deadline = time.monotonic() + timeout
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"{what}: not within {timeout} s")
        time.sleep(every)


def run(args, env=None, **kwargs):
    return subprocess.run(args, env=env, check=True, capture_output=True, text=True, **kwargs).stdout


def srt_time(seconds):
    ms = round(seconds * 1000)
    return f"{ms // 3600000:02}:{ms // 60000 % 60:02}:{ms // 1000 % 60:02},{ms % 1000:03}"


def make_lessons(folder, work):
    """The speech lesson as video and as MP3, and the tone lesson, each with its subtitle."""
    lead, pause = 0.8, 1.0
    parts, cues, t = [], [], lead
    sox_silence = ["sox", "-n", "-r", "22050", "-c", "1"]
    run(sox_silence + [str(work / "lead.wav"), "trim", "0", str(lead)])
    run(sox_silence + [str(work / "pause.wav"), "trim", "0", str(pause)])
    parts.append(work / "lead.wav")
    for i, text in enumerate(SENTENCES):
        raw, clip = work / f"raw{i}.wav", work / f"s{i}.wav"
        run(["espeak-ng", "-v", "en-us", "-s", "130", "-w", str(raw), text.lower()])
        # espeak's own silence trimmed, so that the cue is the speech.
        run(["sox", str(raw), "-r", "22050", "-c", "1", str(clip), "silence", "1", "0.02", "0.5%",
             "reverse", "silence", "1", "0.02", "0.5%", "reverse"])
        length = float(run(["soxi", "-D", str(clip)]))
        cues.append((t, t + length, text))
        parts += [clip, work / "pause.wav"]
        t += length + pause
    run(["sox", *map(str, parts), str(work / "speech.wav")])
    srt = "".join(f"{i + 1}\n{srt_time(a)} --> {srt_time(b)}\n{text}\n\n" for i, (a, b, text) in enumerate(cues))
    quiet = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y"]
    run(quiet + ["-f", "lavfi", "-i", f"color=c=0x{VIDEO_COLOUR[1:]}:size=640x360:rate=25:duration={t},"
                 f"drawbox=w=iw:h=ih/4:color=0x{VIDEO_TOP_COLOUR[1:]}:t=fill",
                 "-i", str(work / "speech.wav"), "-c:v", "libx264", "-preset", "ultrafast",
                 "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", str(folder / "video lesson.mp4")])
    run(quiet + ["-i", str(work / "speech.wav"), "-c:a", "libmp3lame", "-b:a", "96k",
                 str(folder / "audio lesson.mp3")])
    for name in ("video lesson", "audio lesson"):
        (folder / f"{name}.srt").write_text(srt, encoding="utf-8")
    run(quiet + ["-f", "lavfi", "-i", f"sine=frequency={TONE_HZ}:sample_rate=44100:duration=8",
                 str(folder / "tone lesson.wav")])
    (folder / "tone lesson.srt").write_text(f"1\n{srt_time(0.5)} --> {srt_time(7.5)}\nLOW TONE\n\n")


def tone_power(samples, hz):
    """How strongly one frequency sounds in the samples (Goertzel)."""
    c = 2 * math.cos(2 * math.pi * hz / RATE)
    s1 = s2 = 0.0
    for x in samples:
        s1, s2 = x + c * s1 - s2, s1
    return s1 * s1 + s2 * s2 - c * s1 * s2


def dominant_frequency(samples):
    """The strongest frequency between 200 and 600 Hz, to 1 Hz."""
    return max(range(200, 601), key=lambda hz: tone_power(samples, hz))


def levels(samples):
    """The level of each 10 ms of the samples, in dBFS."""
    n = RATE // 100
    rms = (math.sqrt(sum(x * x for x in samples[i:i + n]) / n) for i in range(0, len(samples) - n + 1, n))
    return [20 * math.log10(r / 32768) if r > 0 else -200.0 for r in rms]


def loud_windows(samples, threshold=300):
    """The 50 ms windows whose sound is louder than the threshold (RMS), by index."""
    n = RATE // 20
    windows = (samples[i:i + n] for i in range(0, len(samples) - n + 1, n))
    return [i for i, w in enumerate(windows) if math.sqrt(sum(x * x for x in w) / n) > threshold]


def first_run(windows, length):
    """The first of the given window indices that begins `length` consecutive ones, or None."""
    for k, start in enumerate(windows):
        if windows[k:k + length] == list(range(start, start + length)):
            return start
    return None


class Desktop:
    """Its own X screen with openbox, and its own PulseAudio server with a null sink."""

    def __init__(self, folder, processes):
        self.folder = folder
        self.processes = processes
        read_end, write_end = os.pipe()
        xvfb = self.spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24",
                           "-nolisten", "tcp"], pass_fds=(write_end,))
        os.close(write_end)
        with os.fdopen(read_end) as display:
            number = display.readline().strip()
        if not number:
            raise RuntimeError(f"Xvfb did not start (status {xvfb.wait()})")
        runtime = folder / "runtime"
        runtime.mkdir(mode=0o700)
        self.env = {"PATH": os.environ["PATH"], "HOME": str(folder / "home"), "DISPLAY": f":{number}",
                    "XDG_RUNTIME_DIR": str(runtime), "XDG_CONFIG_HOME": str(folder / "config"),
                    "PULSE_RUNTIME_PATH": str(runtime), "PULSE_SERVER": f"unix:{runtime}/native"}
        (folder / "home").mkdir()
        self.spawn(["openbox", "--sm-disable"])
        wait_for("openbox manages the screen",
                 lambda: "window id" in (self.output(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"]) or ""), 30)
        self.spawn(["pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "-n",
                    "--load=module-null-sink sink_name=e2e", f"--load=module-native-protocol-unix "
                    f"auth-anonymous=1 socket={runtime}/native", "--log-target=stderr"])
        wait_for("the sound server answers", lambda: self.output(["pactl", "set-default-sink", "e2e"]) is not None,
                 30, 0.3)

    def spawn(self, args, **kwargs):
        process = spawn(args, env=getattr(self, "env", None), stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL, **kwargs)
        self.processes.append(process)
        return process

    def output(self, args):
        """What a tool prints, or None when it fails."""
        result = subprocess.run(args, env=self.env, capture_output=True, text=True)
        return result.stdout if result.returncode == 0 else None


def spawn(args, **kwargs):
    """A child that ends with this script, however the script ends (a ctest time-out kills it)."""
    libc = ctypes.CDLL(None, use_errno=True)
    return subprocess.Popen(args, preexec_fn=lambda: libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM), **kwargs)


def stop(process, timeout=10):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Session:
    """One run of the program on a lesson, with what the sink plays recorded from the start."""

    def __init__(self, desktop, media, lang=LEARNER_LANG, engine="mpv", settings=None, video_renderer="sw"):
        self.desktop = desktop
        self.folder = Path(tempfile.mkdtemp(dir=desktop.folder))
        self.media = media
        config = self.folder / "config" / "Orvi"
        config.mkdir(parents=True)
        self.settings_file = config / "OrviLoop.conf"
        self.settings_file.write_text("[global]\n" + "".join(f"{k}={v}\n" for k, v in (settings or {}).items()))
        self.env = dict(desktop.env, LANG=lang, ORVILOOP_MEDIA_ENGINE=engine, ORVILOOP_VIDEO_RENDERER=video_renderer,
                        XDG_CONFIG_HOME=str(self.folder / "config"), XDG_DATA_HOME=str(self.folder / "data"))
        self.sound_file = self.folder / "sink.raw"
        with open(self.sound_file, "wb") as sound:
            self.recorder = spawn(["parec", "--device=e2e.monitor", "--format=s16le", f"--rate={RATE}",
                                   "--channels=1", "--latency-msec=20", "--raw"], env=self.env, stdout=sound,
                                  stderr=subprocess.DEVNULL)
        self.log_file = self.folder / "orviloop.log"
        with open(self.log_file, "wb") as log:
            self.program = spawn([str(PROGRAM), "--play", str(media)], cwd=self.folder, env=self.env, stdout=log,
                                 stderr=subprocess.STDOUT)
        self.player = None

    def close(self):
        stop(self.program)
        stop(self.recorder)

    def log(self):
        return self.log_file.read_text(errors="replace")[-3000:]

    def alive(self):
        if self.program.poll() is not None:
            raise AssertionError(f"the program ended (status {self.program.returncode}); its output:\n{self.log()}")
        return True

    def xdotool(self, *args):
        return (self.desktop.output(["xdotool", *args]) or "").split()

    def player_window(self, focused=False, timeout=20):
        """The player: the program's newest window, the library being its first (X window ids grow
        in the order the program makes its windows); with focused, once the window manager has
        made it the active window."""
        seen = []
        def player():
            self.alive()
            active = self.xdotool("getactivewindow")
            ours = sorted(self.xdotool("search", "--onlyvisible", "--pid", str(self.program.pid)), key=int)
            seen[:] = [active, ours]
            return len(ours) > 1 and (not focused or active == ours[-1:]) and ours[-1]
        what = "the player window is open" + (" and has the focus" if focused else "")
        try:
            self.player = wait_for(what, player, timeout)
        except AssertionError as error:
            raise AssertionError(f"{error} (active: {seen[0]}, the program's: {seen[1]})") from None
        return self.player

    def samples(self):
        return array.array("h", self.sound_file.read_bytes()[: self.sound_file.stat().st_size // 2 * 2])

    def listen(self, what, check, timeout, every=0.3):
        """Waits until check(samples recorded) finds something (neither None nor empty: the first
        window, 0, is found too) and returns it; on failure says what was recorded and what the
        program printed, since a silent sink has more than one cause."""
        def found():
            self.alive()
            value = check(self.samples())
            return None if value is None or value == [] else [value]
        try:
            return wait_for(what, found, timeout, every)[0]
        except AssertionError as error:
            recorder = "recording" if self.recorder.poll() is None else f"ended ({self.recorder.returncode})"
            raise AssertionError(f"{error}; the recorder: {recorder}, {len(self.samples())} samples; "
                                 f"the program's output:\n{self.log()}") from None

    def heard(self, timeout=20):
        """Waits until the lesson is heard on the sink; the sample where it began."""
        return self.listen("the lesson is heard", loud_windows, timeout)[0] * RATE // 20

    def frame(self):
        """The player's outer rectangle (x, y, width, height) with the window manager's frame."""
        info = self.desktop.output(["xwininfo", "-id", self.player])
        field = lambda name: int(re.search(rf"{name}:\s+(-?\d+)", info).group(1))
        extents = self.desktop.output(["xprop", "-id", self.player, "_NET_FRAME_EXTENTS"]) or ""
        left, right, top, bottom = map(int, re.findall(r"\d+", extents.split("=")[-1])) if "=" in extents else (0,) * 4
        return (field("Absolute upper-left X") - left, field("Absolute upper-left Y") - top,
                field("Width") + left + right, field("Height") + top + bottom)

    def screen_text(self, shots=3, every=0.3):
        """The player's window as tesseract reads it: as shown (light letters), and its darkest
        strokes alone (letters drawn dark or with a dark outline), one above the other. A sentence
        is shown only while it is heard, so of a few shots in a row the one with the most white in
        it is read: the rest of the window changes little between them."""
        frame = self.frame()
        best, most_white = self.folder / "screen.png", -1.0
        for k in range(shots):
            if k:
                time.sleep(every)
            shot = self.shot(self.folder / f"shot{k}.png", frame)
            white = float(run(["convert", str(shot), "-colorspace", "gray", "-threshold", "97%", "-format",
                               "%[fx:mean]", "info:"]))
            if white > most_white:
                most_white = white
                shutil.copy(shot, best)
        both = self.folder / "read.png"
        run(["convert", str(best), "(", "+clone", "-colorspace", "gray", "-threshold", "20%", ")", "-append",
             str(both)])
        result = subprocess.run(["tesseract", str(both), "stdout", "-l", "chi_sim+eng"],
                                env=dict(self.env, OMP_THREAD_LIMIT="1"), capture_output=True, text=True)
        return " ".join(result.stdout.split()).upper()

    def shot(self, path, frame=None):
        """A screenshot of the player's window, frame and all."""
        x, y, w, h = frame or self.frame()
        run(["import", "-window", "root", "-crop", f"{w}x{h}+{max(x, 0)}+{max(y, 0)}", str(path)], self.env)
        return path

    def colour_rows(self, shot, colour):
        """The rows of the shot that show the colour, near enough, one entry per pixel of every
        fourth column and row; and the number of pixels so looked at."""
        width = int(run(["identify", "-format", "%w", str(shot)]))
        pixels = subprocess.run(["convert", str(shot), "-depth", "8", "rgb:-"], check=True,
                                capture_output=True).stdout
        want = bytes.fromhex(colour[1:])
        looked_at = range(0, len(pixels) - 2, 3 * 4)
        near = lambda i: all(abs(pixels[i + k] - want[k]) <= 12 for k in range(3))
        rows = [i // 3 // width for i in looked_at if (i // 3 // width) % 4 == 0 and near(i)]
        return rows, len(looked_at) // 4

    def keep(self, shot, what):
        """The shot and the program's output, kept beside the build for a look; where the shot is."""
        kept = PROGRAM.parent / "e2e-screens" / f"{self.media.stem} {what}.png"
        kept.parent.mkdir(exist_ok=True)
        shutil.copy(shot, kept)
        shutil.copy(self.log_file, kept.with_suffix(".log"))
        return kept

    def shows_picture(self, body_colour, top_colour, share, timeout=15):
        """Waits until the body colour covers the share of the window, as the picture is drawn
        after the lesson's first words on a slow machine; the rows of the picture's body and of
        its top, from that shot."""
        shot, seen = self.folder / "picture.png", []
        def shown():
            self.alive()
            self.shot(shot)
            (body, looked_at), (top, _) = self.colour_rows(shot, body_colour), self.colour_rows(shot, top_colour)
            seen[:] = [len(body), looked_at]
            return len(body) > looked_at * share and (body, top)
        try:
            return wait_for("the video's picture is shown", shown, timeout, 0.5)
        except AssertionError as error:
            kept = self.keep(shot, "picture")
            raise AssertionError(f"{error}; of {seen[1] if seen else 0} pixels {seen[0] if seen else 0} "
                                 f"show it; the screen: {kept}; the program's output:\n{self.log()}") from None

    def reads(self, text, timeout=20):
        """Waits until the text is on the player's window."""
        seen = []
        def found():
            self.alive()
            seen[:] = [self.screen_text()]
            return text in seen[0]
        try:
            wait_for(f"'{text}' on the screen", found, timeout, 0.5)
        except AssertionError as error:
            kept = self.keep(self.folder / "screen.png", text)
            raise AssertionError(f"{error}; last read: {seen[0] if seen else ''!r}; the screen: {kept}") from None

    def end(self):
        """Ends the program as a desktop session does (SIGTERM); the settings it saved."""
        self.program.send_signal(signal.SIGTERM)
        self.program.wait(20)
        return self.settings_file.read_text()


# The checks' tables: what each run differs in.
LOCALES = [(lang, engine) for lang in ("zh_CN.UTF-8", "en_US.UTF-8", "de_DE.UTF-8") for engine in ("mpv", "qt")]
PLAY_MODES = [0, 1, 2]  # normal play, the repeater, next sentence after the repetitions
# The libmpv engine's video drawn by the processor, and by OpenGL (here Mesa's rasteriser, which is
# otherwise left alone as costlier than the processor's own drawing).
SHOWN_LESSONS = [(lesson, engine, "sw") for lesson in ("video lesson.mp4", "audio lesson.mp3")
                 for engine in ("mpv", "qt")] + [("video lesson.mp4", "mpv", "gl")]


class AsALearner(unittest.TestCase):
    """One screen and sound server for all, the lessons made once, a fresh program for each run."""

    @classmethod
    def setUpClass(cls):
        missing = [tool for tool in TOOLS if not shutil.which(tool)]
        if missing:
            raise RuntimeError(f"missing tools (scripts/setup.sh installs them): {' '.join(missing)}")
        cls.folder = Path(tempfile.mkdtemp(prefix="orviloop-e2e-"))
        cls.addClassCleanup(shutil.rmtree, cls.folder, ignore_errors=True)
        cls.media = cls.folder / "media"
        cls.media.mkdir()
        (cls.folder / "work").mkdir()
        make_lessons(cls.media, cls.folder / "work")
        processes = []
        cls.addClassCleanup(lambda: [stop(process) for process in reversed(processes)])
        cls.desktop = Desktop(cls.folder, processes)

    def open(self, lesson, **kwargs):
        session = Session(self.desktop, self.media / lesson, **kwargs)
        self.addCleanup(session.close)
        return session

    def test_lesson_plays_in_the_learners_locales(self):
        for lang, engine in LOCALES:
            with self.subTest(lang=lang, engine=engine):
                session = self.open("video lesson.mp4", lang=lang, engine=engine)
                session.heard()
                session.close()

    def test_keys_reach_the_player_as_it_opens(self):
        # In the repeater the first sentence plays until the learner moves on; no click first. N moves
        # on, the down arrow lowers the volume and never the rate.
        session = self.open("video lesson.mp4", settings={"playMode": 1})
        session.player_window(focused=True)
        session.heard()
        run(["xdotool", "key", "--clearmodifiers", "n", "Down"], env=session.env)
        session.reads(SENTENCES[1])
        saved = session.end()
        self.assertEqual(float(re.search(r"(?m)^playRate=(.*)$", saved).group(1)), 1.0, "a key changed the rate")
        self.assertRegex(saved, r"(?m)\\sentence=1$", "the next sentence is not the current one")

    def test_window_fits_the_screen_in_every_play_mode(self):
        for mode in PLAY_MODES:
            with self.subTest(play_mode=mode):
                session = self.open("video lesson.mp4", settings={"playMode": mode})
                session.player_window()
                session.heard()  # the lesson is loaded and laid out
                x, y, w, h = wait_for("the window stands still", lambda: stable(session.frame), 20)
                self.assertTrue(x >= 0 and y >= 0 and x + w <= SCREEN[0] and y + h <= SCREEN[1],
                                f"the player at {w}x{h}+{x}+{y} leaves the {SCREEN[0]}x{SCREEN[1]} screen")
                session.close()

    def test_sentence_is_read_on_the_screen(self):
        for lesson, engine, renderer in SHOWN_LESSONS:
            with self.subTest(lesson=lesson, engine=engine, video_renderer=renderer):
                session = self.open(lesson, engine=engine, settings={"playMode": 1}, video_renderer=renderer)
                session.player_window()
                session.reads(SENTENCES[0])
                if lesson.endswith(".mp4"):
                    body, top = session.shows_picture(VIDEO_COLOUR, VIDEO_TOP_COLOUR, 0.3)
                    self.assertLess(max(top, default=1e9), sum(body) / len(body), "the picture is upside down")
                session.close()

    def test_nothing_heard_before_the_first_sentence(self):
        # The lesson opens on 0.8 s of silence; its first sentence is the first thing heard, at every start.
        for engine in ("mpv", "qt"):
            for start in range(3):
                with self.subTest(engine=engine, start=start):
                    session = self.open("video lesson.mp4", engine=engine, settings={"playMode": 1})
                    # The sentence: the first quarter second of sound without a break (a burst is shorter).
                    sentence = session.listen("the first sentence is heard",
                                              lambda samples: first_run(loud_windows(samples), 5), 20)
                    # Its first 100 ms may be the speech's own soft onset.
                    before = levels(session.samples())[:max(0, sentence * 5 - 10)]
                    self.assertLess(max(before, default=-200.0), -60.0, "sound before the first sentence")
                    session.close()

    def test_tone_keeps_its_pitch_at_a_slow_rate(self):
        session = self.open("tone lesson.wav", engine="mpv", settings={"playMode": 0, "playRate": 0.6})
        start = session.heard()
        # Half a second of the tone, half a second after it is first heard.
        begin, end = start + RATE // 2, start + RATE
        wait_for("half a second of the tone", lambda: len(session.samples()) >= end, 10)
        heard = dominant_frequency(session.samples()[begin:end])
        self.assertLessEqual(abs(heard - TONE_HZ), TONE_HZ * 0.02, f"heard {heard} Hz at rate 0.6")


def stable(measure, settle=1.0):
    """The measure, once it has stayed the same for the settle time; None while it changes."""
    first = measure()
    time.sleep(settle)
    return first if measure() == first else None


if __name__ == "__main__":
    unittest.main(verbosity=2)
