"""Parallel exports of a "*" listing (-j) and the progress display
(--progress): the same sets as one at a time, each export's log lines as one
block, the run stopped after a failure, the progress line drawn in place on a
terminal and nothing added to the log without the option.
"""
import fcntl
import os
import pty
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import tty
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tarvex_run as tv  # noqa: E402

ROOT = None
FIXTURE = None
BIG = None
BIG_ROWS = 30000


def setUpModule():
    global ROOT, FIXTURE, BIG
    ROOT = tempfile.mkdtemp(prefix="tarvex_e2e_parallel_")
    FIXTURE = os.path.join(ROOT, "fixture")
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixture_gis.sql"),
              encoding="utf-8") as f:
        tv.build_database(FIXTURE, f.read(), ROOT)
    # Enough rows for the progress line to be redrawn.
    script = ["CREATE USER big IDENTIFIED BY bigpw;", "ALTER SESSION SET CURRENT_SCHEMA = big;",
              "CREATE TABLE pts (id NUMBER(9), geom SDO_GEOMETRY);"]
    for i in range(BIG_ROWS):
        script.append("INSERT INTO pts VALUES (%d, SDO_GEOMETRY(2001, NULL, SDO_POINT_TYPE(%d, %d, NULL), "
                      "NULL, NULL));" % (i, i % 1000, i // 1000))
        if i % 5000 == 4999:
            script.append("COMMIT;")
    script.append("INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES "
                  "('PTS', 'GEOM', SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', 0, 1000, 0.005), "
                  "SDO_DIM_ELEMENT('Y', 0, 1000, 0.005)), NULL);")
    script.append("COMMIT;")
    BIG = os.path.join(ROOT, "big")
    tv.build_database(BIG, "\n".join(script) + "\n", ROOT)


def tearDownModule():
    shutil.rmtree(ROOT, ignore_errors=True)


def blocks(run, parent_lines=()):
    """{shapefile: [its lines]} from a log whose exports each begin with
    "Exporting to shape file : "; the lines in parent_lines belong to none.
    Fails when a name begins two blocks."""
    result = {}
    current = None
    for line in run.lines():
        if line in parent_lines:
            current = None
            continue
        if line.startswith("Exporting to shape file : "):
            current = line[len("Exporting to shape file : "):]
            if current in result:
                raise AssertionError("two blocks for %s:\n%s" % (current, run.out))
            result[current] = []
        if current is not None:
            result[current].append(line)
    return result


def read_files(directory):
    result = {}
    for name in sorted(os.listdir(directory)):
        with open(os.path.join(directory, name), "rb") as f:
            result[name] = f.read()
    return result


class ParallelExports(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(dir=ROOT)

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def test_sample_schema_gives_the_same_sets_and_blocks_at_every_job_count(self):
        runs = {}
        for jobs in ("1", "2", "4"):
            os.mkdir(self.path(jobs))
            args = ["demo/demo@" + tv.SAMPLE_DB, "-t", "*", "-o", jobs + "/", "-p", "-i"]
            if jobs != "1":
                args += ["-j", jobs]
            runs[jobs] = tv.tarvex(args, cwd=self.work)
            self.assertEqual(runs[jobs].status, 0, runs[jobs])
        first = read_files(self.path("1"))
        self.assertGreater(len(first), 40)
        parent = [line for line in runs["1"].lines() if line.startswith("Connected to:")]
        expected = {name[2:]: [l.replace("1/", "") for l in lines]
                    for name, lines in blocks(runs["1"], parent).items()}
        for jobs in ("2", "4"):
            self.assertEqual(read_files(self.path(jobs)), first, "files of -j %s" % jobs)
            got = {name[2:]: [l.replace(jobs + "/", "") for l in lines]
                   for name, lines in blocks(runs[jobs], parent).items()}
            self.assertEqual(got, expected, runs[jobs])
            # Nothing but the blocks after the connection line.
            self.assertEqual(runs[jobs].lines()[0], runs["1"].lines()[0])

    def test_jobs_on_one_table_give_the_same_log_and_rows(self):
        # One table is read in parts: the records may come in another order.
        one = tv.tarvex(["demo/demo@" + tv.SAMPLE_DB, "-t", "roads", "-o", "a"], cwd=self.work)
        four = tv.tarvex(["demo/demo@" + tv.SAMPLE_DB, "-t", "roads", "-o", "b", "-j", "4"], cwd=self.work)
        self.assertEqual(one.status, 0, one)
        self.assertEqual(four.status, 0, four)
        self.assertEqual(four.out.replace("'b.shp'", "'a.shp'").replace(": b.shp", ": a.shp"), one.out)
        files = read_files(self.work)
        self.assertEqual(files["a.shp"][:100], files["b.shp"][:100])
        rows = [sorted((repr(sorted(attrs.items())), geom.ExportToIsoWkt() if geom else "") for attrs, geom in
                       tv.read_layer(os.path.join(self.work, name))) for name in ("a.shp", "b.shp")]
        self.assertEqual(rows[0], rows[1])

    def test_a_failing_table_stops_new_exports_keeps_the_finished_sets_and_exits_2(self):
        run = tv.tarvex(["atlas/atlaspw@" + FIXTURE, "-t", "*", "-o", "./", "-j", "2"], cwd=self.work,
                        level="detailed")
        self.assertEqual(run.status, 2, run)
        found = [line for line in run.errors() if line.startswith("[ERROR] Failed exports (")]
        self.assertEqual(len(found), 1, run)
        summary = re.fullmatch(r"\[ERROR\] Failed exports \(1 of 5, (\d) not started\) : A3 \(\./a3\.shp\)",
                               found[0])
        self.assertIsNotNone(summary, found[0])
        self.assertEqual(run.lines()[-1], found[0])
        parent = [line for line in run.lines() if line.startswith("Connected to:") or
                  line == "[DETAILED] Terminated Oracle connection" or line == found[0]]
        exported = blocks(run, parent)
        self.assertIn("./a1.shp", exported)
        self.assertIn("./a2.shp", exported)
        self.assertIn("./a3.shp", exported)
        self.assertEqual(len(exported), 5 - int(summary.group(1)), run)
        for name, lines in exported.items():
            base = name[2:-4]
            # Each block holds its own export's lines only, and ends with its outcome.
            for line in lines[1:]:
                self.assertNotIn("Exporting", line)
                for other in ("a1", "a2", "a3", "a4", "a5"):
                    if other != base:
                        self.assertNotIn(other + ".", line, run)
            if base == "a3":
                self.assertTrue(any(l.startswith("[ERROR] ") for l in lines), run)
                self.assertFalse(any(l.startswith("Successfully") for l in lines), run)
            else:
                self.assertTrue(lines[-1].startswith("Successfully written "), lines)
                self.assertEqual(len(tv.read_layer(self.path(base + ".shp"))), 2 if base == "a2" else 1)
        for table in ("a4", "a5"):
            if "./%s.shp" % table not in exported:
                self.assertEqual(tv.shapefile_set(self.path(table)), [], run)
        self.assertEqual(run.lines().count("[DETAILED] Terminated Oracle connection"), 1, run)


class Signals(unittest.TestCase):
    def test_a_signal_to_the_parent_reaches_the_running_exports(self):
        work = tempfile.mkdtemp(dir=ROOT)
        os.mkdir(os.path.join(work, "out"))
        # Slow round trips keep every export running for seconds.
        env = dict(os.environ, TARVEX_LOG_LEVEL="basic", TARVEX_EMBEDDED_ROUND_TRIP_MS="400")
        process = subprocess.Popen([tv.TARVEX, "gis/gispw@" + FIXTURE, "-t", "*", "-o", "out/", "-j", "2"],
                                   cwd=work, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        children_file = "/proc/%d/task/%d/children" % (process.pid, process.pid)
        children = []
        deadline = time.monotonic() + 30
        while len(children) < 2 and time.monotonic() < deadline:
            with open(children_file) as f:
                children = f.read().split()
            time.sleep(0.05)
        self.assertEqual(len(children), 2)
        process.send_signal(signal.SIGTERM)
        out, err = process.communicate(timeout=60)
        self.assertEqual(process.returncode, 128 + signal.SIGTERM)
        self.assertEqual(err, b"")
        lines = out.decode().splitlines()
        # Each export reports the signal in its own block; the run once, last.
        self.assertEqual(lines.count("[ERROR] Export stopped by signal : SIGTERM"), 3, lines)
        self.assertEqual(lines[-1], "[ERROR] Export stopped by signal : SIGTERM", lines)
        blocks_seen = blocks(tv.Run(0, "\n".join(lines[:-1])), lines[:2])
        self.assertEqual(len(blocks_seen), 2, lines)
        for name, block in blocks_seen.items():
            self.assertEqual(block[1:], ["[ERROR] Export stopped by signal : SIGTERM"], block)
            # The set being written is left as it was: here, not there.
            self.assertEqual(tv.shapefile_set(os.path.join(work, name[:-4])), [], name)
        self.assertEqual(os.listdir(os.path.join(work, "out")), [])
        # Both exports ended by the forwarded signal before the parent ended.
        for pid in children:
            self.assertFalse(os.path.exists("/proc/" + pid), pid)
        self.assertFalse(any(l.startswith("Successfully") for l in lines), lines)


class SimulatedRoundTrips(unittest.TestCase):
    def test_every_prefetch_batch_waits_the_given_time(self):
        work = tempfile.mkdtemp(dir=ROOT)
        env = dict(os.environ, TARVEX_LOG_LEVEL="error")
        timings = {}
        for delay in ("0", "40"):
            start = time.monotonic()
            done = subprocess.run([tv.TARVEX, "big/bigpw@" + BIG, "-t", "pts", "-o", "pts" + delay],
                                  cwd=work, env=dict(env, TARVEX_EMBEDDED_ROUND_TRIP_MS=delay),
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
            timings[delay] = time.monotonic() - start
            self.assertEqual((done.returncode, done.stdout, done.stderr), (0, b"", b""))
        # The export fetches 1,000 rows per batch: at least 31 batches of 40 ms.
        self.assertGreaterEqual(timings["40"] - timings["0"], 0.8, timings)


class Progress(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(dir=ROOT)

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def through_terminal(self, args):
        """Runs tarvex with its standard output on a pseudo-terminal (raw, 200
        columns); returns (status, bytes written)."""
        master, slave = pty.openpty()
        tty.setraw(slave)
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 200, 0, 0))
        env = dict(os.environ, TARVEX_LOG_LEVEL="basic")
        process = subprocess.Popen([tv.TARVEX] + args, cwd=self.work, env=env, stdin=subprocess.DEVNULL,
                                   stdout=slave, stderr=subprocess.PIPE)
        os.close(slave)
        out = b""
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:  # EIO: the other side is closed
                break
            if not chunk:
                break
            out += chunk
        os.close(master)
        err = process.stderr.read()
        process.stderr.close()
        status = process.wait(timeout=120)
        self.assertEqual(err, b"")
        return status, out.decode("utf-8")

    def assertOneLineRedrawn(self, out, plain, name):
        draws = re.findall(r"\r([^\r\n]*)\x1b\[K", out)
        shown = [d for d in draws if d]
        self.assertTrue(shown, repr(out))
        for text in shown:
            self.assertNotIn("\n", text)
        self.assertTrue(any(re.search(re.escape(name) + r" : \d+ rows \(\d+%\)", d) for d in shown), shown)
        # Drawn in place, cleared before each log line: without the drawing the
        # log is the plain run's.
        self.assertEqual(re.sub(r"\r[^\r\n]*\x1b\[K", "", out), plain)
        return shown

    def test_progress_on_a_terminal_redraws_one_line_and_leaves_the_log_alone(self):
        db_args = ["big/bigpw@" + BIG, "-t", "pts", "-o", "pts"]
        plain = tv.tarvex(db_args, cwd=self.work)
        self.assertEqual(plain.status, 0, plain)
        status, out = self.through_terminal(db_args + ["--progress"])
        self.assertEqual(status, 0, out)
        shown = self.assertOneLineRedrawn(out, plain.out, "pts.shp")
        self.assertTrue(shown[0].startswith("pts.shp : 0 rows (0%)"), shown)
        # Without the option a terminal gets the plain log.
        status, out = self.through_terminal(db_args)
        self.assertEqual(status, 0, out)
        self.assertEqual(out, plain.out)
        # Not a terminal: a short export adds no line.
        piped = tv.tarvex(db_args + ["--progress"], cwd=self.work)
        self.assertEqual(piped.out, plain.out)

    def test_progress_of_parallel_exports_on_a_terminal(self):
        os.mkdir(self.path("a"))
        os.mkdir(self.path("b"))
        plain = tv.tarvex(["big/bigpw@" + BIG, "-t", "*", "-o", "a/", "-j", "2"], cwd=self.work)
        self.assertEqual(plain.status, 0, plain)
        status, out = self.through_terminal(["big/bigpw@" + BIG, "-t", "*", "-o", "b/", "-j", "2",
                                             "--progress"])
        self.assertEqual(status, 0, out)
        draws = [d for d in re.findall(r"\r([^\r\n]*)\x1b\[K", out) if d]
        self.assertTrue(draws, repr(out))
        self.assertTrue(all(d.startswith("0 of 1 ended | b/pts.shp : ") for d in draws), draws)
        self.assertEqual(re.sub(r"\r[^\r\n]*\x1b\[K", "", out).replace("b/", "a/"), plain.out)
        self.assertEqual(read_files(self.path("a")), read_files(self.path("b")))


if __name__ == "__main__":
    unittest.main()
