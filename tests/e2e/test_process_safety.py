"""The run among other processes, with real processes: nohup and ignored
signals, an output pipe closed mid-export, a parent killed under its
workers, and the password kept off the process list.
"""
import os
import pty
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tarvex_run as tv  # noqa: E402

ROOT = None
DB = None
PASSWORD = "Sl0w-pw"
SIZES = {"quick": 50, "slow1": 6000, "slow2": 6000}
# Every prefetch batch (1,000 rows) waits this long: the slow tables take
# seconds, time enough to act while they are written.
SLOW = dict(TARVEX_EMBEDDED_ROUND_TRIP_MS="600")


def setUpModule():
    global ROOT, DB
    ROOT = tempfile.mkdtemp(prefix="tarvex_e2e_process_")
    DB = os.path.join(ROOT, "db")
    script = ['CREATE USER slow IDENTIFIED BY "%s";' % PASSWORD, "ALTER SESSION SET CURRENT_SCHEMA = slow;"]
    for table, rows in SIZES.items():
        script.append("CREATE TABLE %s (id NUMBER(9), geom SDO_GEOMETRY);" % table)
        for i in range(rows):
            script.append("INSERT INTO %s VALUES (%d, SDO_GEOMETRY(2001, NULL, SDO_POINT_TYPE(%d, %d, NULL), "
                          "NULL, NULL));" % (table, i, i % 100, i // 100))
        script.append("INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES "
                      "('%s', 'GEOM', SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', 0, 100, 0.005), "
                      "SDO_DIM_ELEMENT('Y', 0, 100, 0.005)), NULL);" % table.upper())
        script.append("COMMIT;")
    tv.build_database(DB, "\n".join(script) + "\n", ROOT)


def tearDownModule():
    shutil.rmtree(ROOT, ignore_errors=True)


def children_of(pid):
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            return [int(p) for p in f.read().split()]
    except OSError:
        return []


def wait_for(condition, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split(") ")[1][0] != "Z"
    except OSError:
        return False


class ProcessSafety(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(dir=ROOT)
        self.out = os.path.join(self.work, "out")
        os.mkdir(self.out)

    def env(self, level="basic", **extra):
        env = dict(os.environ, TARVEX_LOG_LEVEL=level, **SLOW)
        env.pop("TARVEX_PASSWORD", None)
        env.update(extra)
        return env

    def star(self, jobs):
        return [tv.TARVEX, "slow/%s@%s" % (PASSWORD, DB), "-t", "*", "-o", "out/", "-j", str(jobs)]

    def assertNothingHidden(self):
        self.assertEqual([n for n in os.listdir(self.out) if n.startswith(".")], [])

    def test_signals_ignored_at_start_stay_ignored_in_the_parent_and_the_workers(self):
        # As a cron line "nohup tarvex ... &" runs it: SIGHUP ignored by nohup,
        # SIGINT by the shell for a background job.
        command = ["nohup", "sh", "-c", "trap '' INT; exec \"$@\"", "sh"] + self.star(2)
        process = subprocess.Popen(command, cwd=self.work, env=self.env(), stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, start_new_session=True)
        self.assertTrue(wait_for(lambda: len(children_of(process.pid)) == 2))
        for stop in (signal.SIGHUP, signal.SIGINT):
            os.killpg(process.pid, stop)
        out, err = process.communicate(timeout=120)
        self.assertEqual(process.returncode, 0, out.decode() + err.decode())
        self.assertNotIn(b"stopped by signal", out)
        for table in SIZES:
            self.assertEqual(tv.shapefile_set(os.path.join(self.out, table)), [".cpg", ".dbf", ".shp", ".shx"])

    def piped_to_head(self, args, level):
        """Runs tarvex ... | head -1; returns (tarvex's exit status, its pid's children seen)."""
        shell = 'set -o pipefail; "$@" | head -1 >/dev/null'
        done = subprocess.run(["bash", "-c", shell, "bash"] + args, cwd=self.work, env=self.env(level),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        self.assertEqual(done.stderr, b"")
        return done.returncode

    def test_a_closed_output_pipe_stops_the_run_as_a_signal_does(self):
        # One export, its record lines cut off mid-export.
        status = self.piped_to_head([tv.TARVEX, "slow/%s@%s" % (PASSWORD, DB), "-t", "slow1", "-o", "out/"],
                                    "detailed")
        self.assertEqual(status, 128 + signal.SIGPIPE)
        self.assertEqual(os.listdir(self.out), [])
        # Parallel: the first block the parent writes after head has gone
        # (the quick table's) stops the slow export running beside it.
        status = self.piped_to_head(self.star(2), "basic")
        self.assertEqual(status, 128 + signal.SIGPIPE)
        time.sleep(2)  # a worker left behind would commit its set by now
        self.assertNothingHidden()
        for table in ("slow1", "slow2"):
            self.assertEqual(tv.shapefile_set(os.path.join(self.out, table)), [], table)

    def test_workers_do_not_outlive_a_killed_parent(self):
        process = subprocess.Popen(self.star(2), cwd=self.work, env=self.env(), stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE)
        self.assertTrue(wait_for(lambda: len(children_of(process.pid)) == 2))
        time.sleep(0.3)  # the second worker's export under way
        workers = children_of(process.pid)
        process.kill()
        process.wait(timeout=30)
        self.assertTrue(wait_for(lambda: not any(alive(pid) for pid in workers)), workers)
        time.sleep(1)
        self.assertNothingHidden()
        for table in ("slow1", "slow2"):
            self.assertEqual(tv.shapefile_set(os.path.join(self.out, table)), [], table)
        self.assertEqual(process.stderr.read(), b"")
        process.stderr.close()

    def running_export(self, connect, **extra):
        """Starts a slow export; returns the process once it is connected."""
        process = subprocess.Popen([tv.TARVEX, connect, "-t", "slow1", "-o", "out/"], cwd=self.work,
                                   env=self.env(**extra), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        self.assertTrue(process.stdout.readline().startswith(b"Connected to:"))
        return process

    def finish(self, process):
        out, err = process.communicate(timeout=120)
        self.assertEqual((process.returncode, err), (0, b""), out)
        self.assertEqual(tv.shapefile_set(os.path.join(self.out, "slow1")), [".cpg", ".dbf", ".shp", ".shx"])

    def test_the_password_is_not_on_the_process_list(self):
        process = self.running_export("slow/%s@%s" % (PASSWORD, DB))
        with open("/proc/%d/cmdline" % process.pid, "rb") as f:
            arguments = f.read().split(b"\0")
        self.assertEqual(arguments[1], ("slow/%s@%s" % ("x" * len(PASSWORD), DB)).encode())
        self.finish(process)
        # From the environment: read, then gone from it, bytes and all.
        process = self.running_export("slow@" + DB, TARVEX_PASSWORD=PASSWORD)
        with open("/proc/%d/environ" % process.pid, "rb") as f:
            self.assertNotIn(PASSWORD.encode(), f.read())
        self.finish(process)

    def test_a_connect_string_without_password_asks_on_a_terminal_only(self):
        # No terminal, no TARVEX_PASSWORD: refused at once, not a wait.
        done = subprocess.run([tv.TARVEX, "slow@" + DB, "-t", "slow1", "-o", "out/"], cwd=self.work,
                              env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, timeout=30)
        self.assertEqual(done.returncode, 1)
        self.assertIn(b"[ERROR] No password given and no terminal to ask for it (give it in TARVEX_PASSWORD) "
                      b": slow\n", done.stdout)
        # On a terminal: asked for, typed without echo.
        master, slave = pty.openpty()
        process = subprocess.Popen([tv.TARVEX, "slow@" + DB, "-t", "quick", "-o", "out/"], cwd=self.work,
                                   env=self.env(), stdin=slave, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        os.close(slave)
        self.assertEqual(process.stdout.read(len(b"Password for slow : ")), b"Password for slow : ")
        time.sleep(0.3)  # the echo turned off
        os.write(master, PASSWORD.encode() + b"\n")
        out, err = process.communicate(timeout=120)
        echoed = b""
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:
                break
            if not chunk:
                break
            echoed += chunk
        os.close(master)
        self.assertEqual((process.returncode, err), (0, b""), out)
        self.assertNotIn(PASSWORD.encode(), echoed)
        self.assertEqual(tv.shapefile_set(os.path.join(self.out, "quick")), [".cpg", ".dbf", ".shp", ".shx"])


if __name__ == "__main__":
    unittest.main()
