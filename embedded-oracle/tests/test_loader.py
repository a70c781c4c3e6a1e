"""The loader tarvex-sql as processes meet it: two runs at once, a run
interrupted with Ctrl-C in the middle of CREATE USER, and the modes of the
files it makes under an ordinary umask.

Environment (set by CTest): TARVEX_SQL.
"""
import fcntl
import os
import shutil
import signal
import stat
import subprocess
import tempfile
import time
import unittest

TARVEX_SQL = os.environ.get("TARVEX_SQL", "")


def users_script(path, names, rows=0, fail=False):
    """A script creating users (and, for a longer run, rows in a table)."""
    lines = ["CREATE USER %s IDENTIFIED BY pw;\n" % name for name in names]
    if rows:
        lines.append("ALTER SESSION SET CURRENT_SCHEMA = %s;\n" % names[0])
        lines.append("CREATE TABLE filler (id NUMBER(9), txt VARCHAR2(60));\n")
        lines.extend("INSERT INTO filler VALUES (%d, 'row number %d of the filler table');\n" % (i, i)
                     for i in range(rows))
    if fail:
        lines.append("INSERT INTO no_such_table VALUES (1);\n")
    with open(path, "w") as f:
        f.write("".join(lines))
    return path


def schema_files(db):
    return sorted(f for f in os.listdir(db) if f.endswith(".db") and not f.startswith("."))


class LoaderProcesses(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="tarvex_loader_")
        self.db = os.path.join(self.work, "db")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def load(self, *scripts, **kw):
        return subprocess.run([TARVEX_SQL, self.db] + list(scripts), stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=120, **kw)

    def wait_for_lock(self):
        """Returns once another process holds the database directory's lock."""
        fd = os.open(self.db, os.O_RDONLY)
        try:
            deadline = time.monotonic() + 30
            while time.monotonic() < deadline:
                try:
                    fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
                    fcntl.flock(fd, fcntl.LOCK_UN)
                    time.sleep(0.02)
                except BlockingIOError:
                    return
            self.fail("the first run never took the lock")
        finally:
            os.close(fd)

    def test_two_runs_at_once(self):
        # The slow run fails at its end; the quick one, started meanwhile,
        # waits for the directory's lock and keeps what it created. The slow
        # run is kept to a few seconds: the quick one waits at most 10 s, and a
        # sanitized build on a busy machine runs several times slower.
        self.assertEqual(self.load().returncode, 0)
        slow = users_script(os.path.join(self.work, "slow.sql"), ["slow"], rows=8000, fail=True)
        quick = users_script(os.path.join(self.work, "quick.sql"), ["quick"])
        first = subprocess.Popen([TARVEX_SQL, self.db, slow], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.wait_for_lock()
        second = self.load(quick)
        out_first = first.communicate(timeout=120)[0].decode()
        self.assertNotEqual(first.returncode, 0, out_first)
        self.assertIn("rolled back", out_first)
        self.assertEqual(second.returncode, 0, second.stdout.decode())
        self.assertIn("in use by another tarvex-sql run", second.stdout.decode())
        self.assertEqual(schema_files(self.db), ["MDSYS.db", "QUICK.db"])

    def test_interrupted_create_user_leaves_nothing(self):
        self.assertEqual(self.load().returncode, 0)
        names = ["newbie%d" % i for i in range(8)]  # each costs a password hash
        script = users_script(os.path.join(self.work, "users.sql"), names)
        run = subprocess.Popen([TARVEX_SQL, self.db, script], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        # interrupted once the first new user's file exists, under its
        # temporary name until the commit
        deadline = time.monotonic() + 30
        while not [f for f in os.listdir(self.db) if f.startswith(".NEWBIE")]:
            self.assertLess(time.monotonic(), deadline, "no user was being created")
            self.assertIsNone(run.poll(), "the run ended before it was interrupted")
            time.sleep(0.01)
        run.send_signal(signal.SIGINT)
        run.communicate(timeout=60)
        self.assertNotEqual(run.returncode, 0)
        self.assertEqual(schema_files(self.db), ["MDSYS.db"])
        again = self.load(script)
        self.assertEqual(again.returncode, 0, again.stdout.decode())
        self.assertEqual(len(schema_files(self.db)), 1 + len(names))
        self.assertEqual([f for f in os.listdir(self.db) if f.startswith(".")], [])

    def test_files_are_private_whatever_the_umask(self):
        script = users_script(os.path.join(self.work, "users.sql"), ["alice", "bob"], rows=10)
        done = self.load(script, preexec_fn=lambda: os.umask(0o022))
        self.assertEqual(done.returncode, 0, done.stdout.decode())
        self.assertEqual(stat.S_IMODE(os.stat(self.db).st_mode), 0o700)
        for name in os.listdir(self.db):
            with self.subTest(file=name):
                self.assertEqual(stat.S_IMODE(os.stat(os.path.join(self.db, name)).st_mode), 0o600)

    def test_help_and_version_stand_alone(self):
        cwd = self.work
        for option in ("--help", "-h", "-H"):
            done = subprocess.run([TARVEX_SQL, option], stdout=subprocess.PIPE, cwd=cwd, timeout=60)
            self.assertEqual(done.returncode, 0, option)
            self.assertTrue(done.stdout.decode().startswith("usage: tarvex-sql"), option)
        tarvex = os.environ.get("TARVEX_BIN", "")
        for option in ("--version", "-V", "-v"):
            done = subprocess.run([TARVEX_SQL, option], stdout=subprocess.PIPE, cwd=cwd, timeout=60)
            self.assertEqual(done.returncode, 0, option)
            first = done.stdout.decode().splitlines()[0]
            self.assertRegex(first, r"^tarvex-sql \d+\.\d+\.\d+$")
            if tarvex:
                own = subprocess.run([tarvex, "--version"], stdout=subprocess.PIPE, timeout=60)
                self.assertEqual(first.split()[1], own.stdout.decode().split()[1])
        # anything else starting with "-" is refused and never becomes a directory
        for args in (["--bogus"], ["-x", "script.sql"], ["--help", "script.sql"], ["-V", "db"]):
            done = subprocess.run([TARVEX_SQL] + args, stdout=subprocess.PIPE, cwd=cwd, timeout=60)
            self.assertEqual(done.returncode, 1, args)
            self.assertIn("usage: tarvex-sql", done.stdout.decode(), args)
        self.assertEqual(os.listdir(cwd), [])

    def test_script_that_is_not_a_regular_file(self):
        done = self.load(self.work)
        self.assertEqual(done.returncode, 1)
        self.assertIn("not a readable regular file", done.stdout.decode())


if __name__ == "__main__":
    unittest.main()
