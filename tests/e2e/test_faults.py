"""Fault handling of the whole program: an output directory that does not
exist or cannot be written, links at the output names, a file-size limit,
and a client that fails in the middle of an export. Each must end with a clear [ERROR] line, no success
message, exit status 2 and no crash.

Environment (set by CTest): TARVEX_BIN, TARVEX_SQL.
"""
import os
import resource
import shutil
import signal
import sqlite3
import subprocess
import tempfile
import time
import unittest

TARVEX = os.environ.get("TARVEX_BIN", "")
TARVEX_SQL = os.environ.get("TARVEX_SQL", "")

ROWS = 3000

SCRIPT_HEAD = """CREATE USER faulty IDENTIFIED BY secret;
ALTER SESSION SET CURRENT_SCHEMA = faulty;
CREATE TABLE pts (id NUMBER(10), name VARCHAR2(20), geom SDO_GEOMETRY);
INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('PTS', 'GEOM',
  SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', -180, 180, 0.005), SDO_DIM_ELEMENT('Y', -90, 90, 0.005)), NULL);
"""


def make_database(path):
    lines = [SCRIPT_HEAD]
    for i in range(1, ROWS + 1):
        lines.append(
            "INSERT INTO pts VALUES (%d, 'point number %05d', SDO_GEOMETRY(2001, NULL, "
            "SDO_POINT_TYPE(%d.25, %d.5, NULL), NULL, NULL));\n" % (i, i, i % 170, i % 80))
    lines.append("COMMIT;\n")
    script = os.path.join(os.path.dirname(path), "faulty.sql")
    with open(script, "w") as f:
        f.write("".join(lines))
    done = subprocess.run([TARVEX_SQL, path, script], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=300)
    if done.returncode != 0:
        raise RuntimeError("tarvex-sql failed: " + done.stdout.decode(errors="replace"))


def schema_file(db):
    for name in os.listdir(db):
        if name.upper().startswith("FAULTY"):
            return os.path.join(db, name)
    raise RuntimeError("no schema file for FAULTY in " + db)


class FaultTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="tarvex_faults_")
        cls.pristine = os.path.join(cls.root, "pristine")
        make_database(cls.pristine)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def setUp(self):
        self.work = tempfile.mkdtemp(dir=self.root)
        self.db = os.path.join(self.work, "db")
        shutil.copytree(self.pristine, self.db)

    def run_export(self, output, preexec=None):
        done = subprocess.run([TARVEX, "faulty/secret@" + self.db, "-t", "pts", "-o", output],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300,
                              env=dict(os.environ, TARVEX_LOG_LEVEL="basic"), preexec_fn=preexec)
        return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")

    def assertFailedCleanly(self, result, *expected):
        status, out, err = result
        errors = [line for line in out.splitlines() if line.startswith("[ERROR] ")]
        self.assertEqual(status, 2, "exit status; output:\n" + out + err)
        self.assertTrue(errors, "no [ERROR] line in:\n" + out)
        joined = "\n".join(errors)
        for text in expected:
            self.assertIn(text, joined)
        self.assertNotIn("Successfully written", out)
        self.assertEqual(err, "", "standard error must stay empty")
        return joined

    def test_healthy_export_succeeds(self):
        # The baseline the faults below are measured against.
        out = os.path.join(self.work, "ok")
        status, text, err = self.run_export(out)
        self.assertEqual(status, 0, text + err)
        self.assertIn("Successfully written", text)
        self.assertEqual(os.path.getsize(out + ".shp"), 100 + ROWS * 28)

    def test_output_directory_missing_or_unusable(self):
        missing = os.path.join(self.work, "no", "such", "dir", "pts")
        self.assertFailedCleanly(self.run_export(missing), missing)
        self.assertFalse(os.path.exists(os.path.dirname(missing)))

        # Running as root makes permission bits meaningless: a directory
        # below a regular file can never be written, whoever runs.
        plain = os.path.join(self.work, "plain")
        with open(plain, "w") as f:
            f.write("x")
        self.assertFailedCleanly(self.run_export(os.path.join(plain, "pts")), plain)

    def test_links_at_the_final_names_are_replaced_not_followed(self):
        # Each file of the set is a link to a file outside it (or to
        # /dev/full): the export replaces the links with its own files and
        # never writes through them.
        base = os.path.join(self.work, "linked", "pts")
        os.makedirs(os.path.dirname(base))
        victims = {}
        for ext in (".shp", ".shx", ".dbf", ".cpg", ".prj"):
            victim = os.path.join(self.work, "victim" + ext)
            with open(victim, "w") as f:
                f.write("victim" + ext)
            victims[victim] = "victim" + ext
            os.symlink(victim, base + ext)
        os.symlink("/dev/full", base + ".qix")
        status, text, err = self.run_export(base)
        self.assertEqual(status, 0, text + err)
        for victim, content in victims.items():
            with open(victim) as f:
                self.assertEqual(f.read(), content)
        for ext in (".shp", ".shx", ".dbf", ".cpg"):
            self.assertFalse(os.path.islink(base + ext), ext)
        # Not written by this run: the stale companions are gone.
        self.assertFalse(os.path.lexists(base + ".prj"))
        self.assertFalse(os.path.lexists(base + ".qix"))
        self.assertEqual(os.path.getsize(base + ".shp"), 100 + ROWS * 28)

    def test_disk_fills_up_during_export(self):
        # Files may grow to 40 KB only (the .shp needs 84 KB, the .dbf more):
        # the creation succeeds, a later write fails with EFBIG.
        def limit():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (40000, 40000))
        base = os.path.join(self.work, "small", "pts")
        os.makedirs(os.path.dirname(base))
        self.assertFailedCleanly(self.run_export(base, preexec=limit), "File too large")

    def test_client_fails_mid_export(self):
        # A page of the table's rows, well after the first rows, is
        # overwritten on disk: the export has started when the client hits it.
        path = schema_file(self.db)
        con = sqlite3.connect(path)
        leaves = [r[0] for r in con.execute(
            "SELECT pageno FROM dbstat WHERE upper(name) = 'PTS' AND pagetype = 'leaf' ORDER BY path")]
        page_size = con.execute("PRAGMA page_size").fetchone()[0]
        con.close()
        self.assertGreater(len(leaves), 10)
        victim = leaves[len(leaves) * 2 // 3]
        with open(path, "r+b") as f:
            f.seek((victim - 1) * page_size)
            f.write(bytes((i * 37 + 11) % 256 for i in range(page_size)))
        text = self.assertFailedCleanly(self.run_export(os.path.join(self.work, "cut")), "ORA-01578")
        self.assertNotIn("ORA-01017", text)  # the connection itself worked

    def test_schema_locked_by_another_process(self):
        # Another process (Python's sqlite3) holds an exclusive lock on the
        # schema file: the client waits its stated 2 s and reports
        # ORA-00054, not a wrong password.
        con = sqlite3.connect(schema_file(self.db), isolation_level=None)
        con.execute("BEGIN EXCLUSIVE")
        try:
            started = time.monotonic()
            text = self.assertFailedCleanly(self.run_export(os.path.join(self.work, "busy")), "ORA-00054")
            elapsed = time.monotonic() - started
        finally:
            con.close()
        self.assertNotIn("ORA-01017", text)
        self.assertGreaterEqual(elapsed, 1.5)
        self.assertLess(elapsed, 10)

    def test_corrupt_geometry_value(self):
        # One geometry in the middle of the table holds garbage instead of
        # the client's stored form.
        con = sqlite3.connect(schema_file(self.db))
        table = [r[0] for r in con.execute("SELECT name FROM sqlite_master WHERE type='table'")
                 if r[0].upper() == "PTS"][0]
        cols = [r[1] for r in con.execute('PRAGMA table_info("%s")' % table)]
        geom = [c for c in cols if c.upper() == "GEOM"][0]
        ident = [c for c in cols if c.upper() == "ID"][0]
        changed = con.execute('UPDATE "%s" SET "%s" = ? WHERE "%s" = ?' % (table, geom, ident),
                              (b"\x07garbage\xff\x00\x01" * 3, ROWS // 2)).rowcount
        con.commit()
        con.close()
        self.assertEqual(changed, 1)
        self.assertFailedCleanly(self.run_export(os.path.join(self.work, "garbage")), "ORA-")


if __name__ == "__main__":
    unittest.main()
