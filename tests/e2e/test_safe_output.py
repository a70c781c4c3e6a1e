"""Safe output, with real processes and real files: a set is replaced whole
or not at all (stop signals, a failing row, a file-size limit, a vanished
directory), one writer per set, links never written through, no stale
companions, names from the metadata and the command line that cannot steer
the SQL, checked options, and no password in any output.

Environment (set by CTest): TARVEX_BIN, TARVEX_SQL, TARVEX_SAMPLE_DB.
"""
import os
import pty
import random
import resource
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tarvex_run as tv  # noqa: E402

BIG_ROWS = 400000
PASSWORD = "Se@cr/et'x@1"

HEAD = """CREATE USER safe IDENTIFIED BY "%s";
CREATE USER evil IDENTIFIED BY evil;
ALTER SESSION SET CURRENT_SCHEMA = safe;
CREATE TABLE pts (id NUMBER(10), name VARCHAR2(20), geom SDO_GEOMETRY);
CREATE TABLE badrow (id NUMBER(10), geom SDO_GEOMETRY);
CREATE TABLE "X Y" (id NUMBER(10), geom SDO_GEOMETRY);
INSERT INTO "X Y" VALUES (7, SDO_GEOMETRY(2001, NULL, SDO_POINT_TYPE(7, 7, NULL), NULL, NULL));
""" % PASSWORD
METADATA = """INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('%s', 'GEOM',
  SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', -180, 180, 0.005), SDO_DIM_ELEMENT('Y', -90, 90, 0.005)), NULL);
"""
# A metadata row whose table name is SQL: it must never run as SQL.
EVIL = """ALTER SESSION SET CURRENT_SCHEMA = evil;
""" + METADATA % "OK UNION ALL SELECT 99, NAME, GEOM FROM SAFE.PTS"


def point(i):
    return "SDO_GEOMETRY(2001, NULL, SDO_POINT_TYPE(%d.25, %d.5, NULL), NULL, NULL)" % (i % 170, i % 80)


def make_script():
    parts = [HEAD, METADATA % "PTS", METADATA % "X Y", METADATA % "BADROW"]
    for i in range(1, 6):
        parts.append("INSERT INTO badrow VALUES (%d, %s);\n" % (i, point(i)))
    # A solid (gtype x008): not supported, so the export fails at row 6.
    parts.append("INSERT INTO badrow VALUES (6, SDO_GEOMETRY(2008, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,1,1), "
                 "SDO_ORDINATE_ARRAY(1,1)));\n")
    for i in range(1, BIG_ROWS + 1):
        parts.append("INSERT INTO pts VALUES (%d, 'point %06d', %s);\n" % (i, i, point(i)))
    parts.append(EVIL)
    parts.append("COMMIT;\n")
    return "".join(parts)


# The coordinate system an earlier run wrote beside the set.
OLD_PRJ = ('GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,298.257223563]],'
           'PRIMEM["Greenwich",0],UNIT["degree",0.0174532925199433]]\n')

ROOT = None
DB = None
CONNECT = None


def setUpModule():
    global ROOT, DB, CONNECT
    ROOT = tempfile.mkdtemp(prefix="tarvex_e2e_safe_")
    DB = os.path.join(ROOT, "db")
    tv.build_database(DB, make_script(), ROOT)
    CONNECT = "safe/%s@%s" % (PASSWORD, DB)


def tearDownModule():
    shutil.rmtree(ROOT, ignore_errors=True)


def env(level="basic"):
    return dict(os.environ, TARVEX_LOG_LEVEL=level)


def snapshot(directory):
    """{name: bytes} of every entry of a directory (links as their target text)."""
    result = {}
    for name in sorted(os.listdir(directory)):
        path = os.path.join(directory, name)
        if os.path.islink(path):
            result[name] = ("link", os.readlink(path))
        else:
            with open(path, "rb") as f:
                result[name] = f.read()
    return result


class SafeOutputTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(dir=ROOT)

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def run_tarvex(self, *args, level="basic", connect=None, preexec=None):
        done = subprocess.run([tv.TARVEX, connect or CONNECT] + list(args), cwd=self.work, env=env(level),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300,
                              preexec_fn=preexec)
        self.assertEqual(done.stderr, b"", "standard error must stay empty")
        return tv.Run(done.returncode, done.stdout.decode("utf-8", errors="replace"))

    def start(self, *args):
        return subprocess.Popen([tv.TARVEX, CONNECT] + list(args), cwd=self.work, env=env(),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def finish(self, process):
        out, err = process.communicate(timeout=300)
        self.assertEqual(err, b"")
        return tv.Run(process.returncode, out.decode("utf-8", errors="replace"))

    def wait_for(self, path, process):
        """Waits until path exists (the run holds its set) or the process ended."""
        deadline = time.time() + 60
        while not os.path.lexists(path) and process.poll() is None and time.time() < deadline:
            time.sleep(0.002)
        return os.path.lexists(path)

    def previous_set(self, base, table="pts", rows=5):
        """A small set of rows 1..rows written at base, plus a .prj of an earlier run."""
        run = self.run_tarvex("-q", "select * from %s where id <= %d" % (table, rows), "-g", "geom",
                              "-o", base)
        self.assertEqual(run.status, 0, run)
        with open(os.path.join(self.work, base + ".prj"), "w") as f:
            f.write(OLD_PRJ)

    def assertNoLeftovers(self, directory):
        hidden = [name for name in os.listdir(directory) if ".tarvex-" in name]
        self.assertEqual(hidden, [], "temporaries or lock files left behind")

    def test_stop_signals_leave_the_previous_set_byte_identical(self):
        os.mkdir(os.path.join(self.work, "sets"))
        self.previous_set("sets/big")
        before = snapshot(os.path.join(self.work, "sets"))
        started = time.time()
        run = self.run_tarvex("-t", "pts", "-o", "full")
        duration = time.time() - started
        self.assertEqual(run.status, 0, run)
        self.assertEqual(len(tv.read_layer(os.path.join(self.work, "full.shp"))), BIG_ROWS)

        interrupted = 0
        rng = random.Random(20261208)
        for stop in (signal.SIGTERM, signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            delay = rng.uniform(0.05, 0.9) * duration
            process = self.start("-t", "pts", "-o", "sets/big")
            time.sleep(delay)
            process.send_signal(stop)
            result = self.finish(process)
            with self.subTest(signal=stop.name, delay=round(delay, 3)):
                if result.status == 0:
                    # Ended before the signal came: restore the previous set.
                    shutil.rmtree(os.path.join(self.work, "sets"))
                    os.mkdir(os.path.join(self.work, "sets"))
                    self.previous_set("sets/big")
                    continue
                interrupted += 1
                self.assertEqual(result.status, 128 + stop, result)
                self.assertEqual(result.errors(), ["[ERROR] Export stopped by signal : " + stop.name], result)
                self.assertNotIn("Successfully written", result.out)
                self.assertEqual(snapshot(os.path.join(self.work, "sets")), before)
        self.assertGreaterEqual(interrupted, 2, "too few runs were interrupted to tell anything")
        self.assertNoLeftovers(os.path.join(self.work, "sets"))

    def test_failing_reexport_keeps_the_previous_set(self):
        self.previous_set("bad", table="badrow")
        before = snapshot(self.work)
        run = self.run_tarvex("-t", "badrow", "-o", "bad")
        self.assertEqual(run.status, 2, run)
        self.assertIn("[ERROR] Unsupported GTYPE in Geometry : 2008", run.errors())
        self.assertNotIn("Successfully written", run.out)
        self.assertEqual(snapshot(self.work), before)
        self.assertEqual(len(tv.read_layer(os.path.join(self.work, "bad.shp"))), 5)
        # With -i the same export replaces the set, and the earlier .prj goes.
        run = self.run_tarvex("-t", "badrow", "-o", "bad", "-i")
        self.assertEqual(run.status, 0, run)
        self.assertEqual(len(tv.read_layer(os.path.join(self.work, "bad.shp"))), 6)
        self.assertEqual(tv.shapefile_set(os.path.join(self.work, "bad")), [".cpg", ".dbf", ".shp", ".shx"])
        self.assertNoLeftovers(self.work)

    def test_one_writer_per_set_and_other_sets_side_by_side(self):
        first = self.start("-t", "pts", "-o", "both")
        other = None
        try:
            self.assertTrue(self.wait_for(os.path.join(self.work, ".both.tarvex-lock"), first),
                            "the first run never held its set")
            other = self.start("-t", "pts", "-o", "other")
            started = time.time()
            second = self.run_tarvex("-t", "pts", "-o", "both")
            self.assertLess(time.time() - started, 30)
            self.assertEqual(second.status, 2, second)
            self.assertEqual(second.errors(),
                             ["[ERROR] Shapefile set is being written by another process (process %d) : both"
                              % first.pid], second)
        finally:
            result = self.finish(first)
            other_result = self.finish(other) if other is not None else None
        self.assertEqual(result.status, 0, result)
        self.assertEqual(other_result.status, 0, other_result)
        for name in ("both", "other"):
            self.assertEqual(len(tv.read_layer(os.path.join(self.work, name + ".shp"))), BIG_ROWS)
        self.assertNoLeftovers(self.work)

    def test_links_at_temporary_and_lock_names_are_never_written_through(self):
        victim = os.path.join(self.work, "victim.txt")
        with open(victim, "w") as f:
            f.write("keep")
        os.mkdir(os.path.join(self.work, "out"))
        # Names as a killed run would have left them: removed, not followed.
        os.symlink(victim, os.path.join(self.work, "out", ".s.tarvex-1-abcdef.shp"))
        os.symlink(os.path.join(self.work, "new.txt"), os.path.join(self.work, "out", ".s.tarvex-2-zzzzzz.dbf"))
        run = self.run_tarvex("-t", '"X Y"', "-o", "out/s")
        self.assertEqual(run.status, 0, run)
        self.assertEqual(sorted(os.listdir(os.path.join(self.work, "out"))),
                         ["s.cpg", "s.dbf", "s.shp", "s.shx"])
        self.assertFalse(os.path.exists(os.path.join(self.work, "new.txt")))

        # A link at the lock's name: the run refuses the set and writes nothing.
        before = snapshot(os.path.join(self.work, "out"))
        os.symlink(victim, os.path.join(self.work, "out", ".s.tarvex-lock"))
        run = self.run_tarvex("-t", '"X Y"', "-o", "out/s")
        self.assertEqual(run.status, 2, run)
        self.assertEqual(len(run.errors()), 1, run)
        self.assertIn("Cannot lock shapefile set : out/s", run.errors()[0])
        os.unlink(os.path.join(self.work, "out", ".s.tarvex-lock"))
        self.assertEqual(snapshot(os.path.join(self.work, "out")), before)
        with open(victim) as f:
            self.assertEqual(f.read(), "keep")

    def test_stale_companions_go_with_the_set_they_described(self):
        db = tv.SAMPLE_DB
        run = self.run_tarvex("-t", "cities", "-p", connect="demo/demo@" + db)
        self.assertEqual(run.status, 0, run)
        self.assertTrue(os.path.exists(os.path.join(self.work, "cities.prj")))
        for name in ("cities.PRJ", "cities.QIX", "cities.SHX", "cities_2.prj", "cities.txt"):
            with open(os.path.join(self.work, name), "w") as f:
                f.write("old")
        run = self.run_tarvex("-t", "cities", connect="demo/demo@" + db)
        self.assertEqual(run.status, 0, run)
        self.assertEqual(sorted(os.listdir(self.work)),
                         ["cities.cpg", "cities.dbf", "cities.shp", "cities.shx", "cities.txt", "cities_2.prj"])

    def test_file_size_limit_and_vanished_directory_fail_with_one_line(self):
        os.mkdir(os.path.join(self.work, "small"))

        def limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (200000, 200000))
        run = self.run_tarvex("-t", "pts", "-o", "small/pts", preexec=limit)
        self.assertEqual(run.status, 2, run)
        self.assertEqual(len(run.errors()), 1, run)
        self.assertIn("File too large", run.errors()[0])
        self.assertIn("small/pts.", run.errors()[0])
        self.assertEqual(os.listdir(os.path.join(self.work, "small")), [])

        gone = os.path.join(self.work, "gone")
        os.mkdir(gone)
        process = self.start("-t", "pts", "-o", "gone/pts")
        self.assertTrue(self.wait_for(os.path.join(gone, ".pts.tarvex-lock"), process))
        time.sleep(0.2)
        shutil.rmtree(gone)
        result = self.finish(process)
        self.assertEqual(result.status, 2, result)
        self.assertEqual(len(result.errors()), 1, result)
        self.assertIn("gone/pts", result.errors()[0])
        self.assertNotIn("Successfully written", result.out)
        self.assertFalse(os.path.exists(gone))

    def test_names_from_the_metadata_and_the_command_line_never_run_as_sql(self):
        # The metadata row's name is one (missing) table, not a query.
        run = self.run_tarvex("-t", "*", "-o", "evil_", connect="evil/evil@" + DB, level="debug")
        self.assertEqual(run.status, 2, run)
        self.assertIn("[ERROR] ORA-00942: table or view does not exist", run.errors())
        self.assertIn('[DEBUG] Built SQL : select * from "OK UNION ALL SELECT 99, NAME, GEOM FROM SAFE.PTS"',
                      run.lines())
        self.assertEqual([n for n in os.listdir(self.work) if not n.startswith(".")], [])
        self.assertNoLeftovers(self.work)

        # A registered name that needs quotes exports, in "*" mode too.
        os.mkdir(os.path.join(self.work, "all"))
        run = self.run_tarvex("-t", "*", "-o", "all/", "-s", "safe", "-i")
        self.assertEqual(run.status, 0, run)
        self.assertIn("Successfully written 1 rows to 'all/x y.shp'", run.lines())
        rows = tv.read_layer(os.path.join(self.work, "all", "x y.shp"))
        self.assertEqual([r[0]["ID"] for r in rows], [7])

        # A table option that is SQL is refused before connecting.
        run = self.run_tarvex("-t", "PTS WHERE 1=0 UNION SELECT * FROM PTS")
        self.assertEqual(run.status, 1, run)
        self.assertIn("[ERROR] Table name must be a plain name or a name in double quotes, -t : "
                      "PTS WHERE 1=0 UNION SELECT * FROM PTS", run.errors())
        self.assertNotIn("Connected", run.out)

    def test_option_checks_end_to_end(self):
        for args, line in (
                (("-t", "x", "-f", "junk"), "[ERROR] Value of -f must be a shape type number (1, 3, 5, 8, 11, "
                                            "13, 15, 18, 21, 23, 25, 28 or 31) : junk"),
                (("-t", "x", "-m", "abc"), "[ERROR] Value of -m must be a finite number : abc"),
                (("-q", "select * from x", "-g", "geom", "-o", "dir/"),
                 "[ERROR] Output names a directory; a free query needs an output file name, or -t to name "
                 "the set : dir/")):
            run = self.run_tarvex(*args)
            self.assertEqual(run.status, 1, run)
            self.assertIn(line, run.errors())
            self.assertIn("Usage notes : ", run.out)
        # A mistyped option is named, and the run goes on without it.
        run = self.run_tarvex("-t", '"X Y"', "--ouput", "elsewhere")
        self.assertEqual(run.status, 0, run)
        self.assertIn("[WARNING] Unknown option ignored : --ouput", run.lines())
        self.assertIn("[WARNING] Unexpected argument ignored : elsewhere", run.lines())
        self.assertTrue(os.path.exists(os.path.join(self.work, "x y.shp")))
        # Every option once: 26 arguments, accepted; -o names a directory.
        os.mkdir(os.path.join(self.work, "d"))
        run = self.run_tarvex("-t", "badrow", "-s", "safe", "-g", "geom", "-o", "d/", "-d", "yyyy",
                              "-q", "select * from badrow where id < 3", "-m", "0", "-f", "1", "-a", "10",
                              "-p", "-x", "-i", "-r", "-n", "-e")
        self.assertEqual(run.status, 0, run)
        self.assertIn("Successfully written 2 rows to 'd/badrow.shp'", run.lines())

    def test_no_password_in_any_output(self):
        wrong = "wr@ng/'pw\""
        for level in ("error", "basic", "detailed", "debug"):
            with self.subTest(level=level):
                run = self.run_tarvex("-t", '"X Y"', "-p", level=level)
                self.assertEqual(run.status, 0, run)
                self.assertNotIn("Se@cr", run.out)
                self.assertNotIn("et'x", run.out)
                if level == "debug":
                    self.assertIn("[DEBUG] parseArgs::full_connect_string : safe/<password>@" + DB, run.lines())
                run = self.run_tarvex("-t", "pts", level=level, connect="safe/%s@%s" % (wrong, DB))
                self.assertEqual(run.status, 2, run)
                self.assertNotIn("wr@ng", run.out)
                self.assertNotIn("'pw", run.out)
                self.assertIn("[ERROR] Could not connect to database : safe/<password>@" + DB, run.lines())

    def test_connect_prompt_hides_the_password_and_restores_the_terminal(self):
        pid, master = pty.fork()
        if pid == 0:
            os.chdir(self.work)
            os.execve(tv.TARVEX, [tv.TARVEX], env())
        try:
            seen = self.read_until(master, b"connect string")
            attrs = termios.tcgetattr(master)
            self.assertEqual(attrs[3] & termios.ECHO, 0, "echo is off at the connect-string prompt")
            os.write(master, CONNECT.encode() + b"\n")
            seen += self.read_until(master, b"Table name : ")
            self.assertNotIn(b"et'x", seen)
            self.assertNotEqual(termios.tcgetattr(master)[3] & termios.ECHO, 0, "echo is back")
            os.kill(pid, signal.SIGTERM)
        finally:
            _, status = os.waitpid(pid, 0)
            os.close(master)
        self.assertEqual(os.waitstatus_to_exitcode(status), 128 + signal.SIGTERM)

        # Stopped at the hidden prompt itself: the echo comes back.
        pid, master = pty.fork()
        if pid == 0:
            os.execve(tv.TARVEX, [tv.TARVEX], env())
        try:
            self.read_until(master, b"connect string")
            time.sleep(0.1)
            os.kill(pid, signal.SIGINT)
            _, status = os.waitpid(pid, 0)
            out = self.read_until(master, b"SIGINT")
            self.assertIn(b"[ERROR] Export stopped by signal : SIGINT", out)
            self.assertNotEqual(termios.tcgetattr(master)[3] & termios.ECHO, 0, "echo is back")
        finally:
            os.close(master)
        self.assertEqual(os.waitstatus_to_exitcode(status), 128 + signal.SIGINT)

    def read_until(self, fd, text, timeout=20):
        data = b""
        deadline = time.time() + timeout
        while text not in data and time.time() < deadline:
            ready, _, _ = select.select([fd], [], [], 0.2)
            if ready:
                try:
                    chunk = os.read(fd, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                data += chunk
        return data


if __name__ == "__main__":
    unittest.main()
