"""The embedded database as an attacker or a careless user meets it, with
real processes and real files: grants read through WITH clauses and
subqueries, odd files in the database directory.

Environment (set by CTest): TARVEX_BIN, TARVEX_SQL, TARVEX_SAMPLE_DB.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tarvex_run as tv  # noqa: E402


class ClientSafety(unittest.TestCase):
    def setUp(self):
        if not (tv.SAMPLE_DB and os.path.isdir(tv.SAMPLE_DB)):
            self.skipTest("no sample database")
        self.root = tempfile.mkdtemp(prefix="tarvex_e2e_client_")

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def export(self, query, out, db=None):
        return tv.tarvex(["demo/demo@" + (db or tv.SAMPLE_DB), "-q", query, "-g", "geom", "-o", out],
                         cwd=self.root)

    def test_wrapped_reads_of_a_table_not_granted_are_refused(self):
        # demo holds grants on GISOWNER.RIVERS and LAKES, not SURVEY_MARKERS
        for number, query in enumerate([
                "with rivers as (select * from gisowner.survey_markers) select * from rivers",
                "select * from (select * from gisowner.survey_markers) lakes",
                "with x as (select geom from gisowner.survey_markers) select geom from x, gisowner.rivers"]):
            with self.subTest(query=query):
                run = self.export(query, "hidden%d" % number)
                self.assertNotEqual(run.status, 0, run)
                self.assertTrue(any("ORA-00942" in line for line in run.errors()), run)
                self.assertFalse([f for f in os.listdir(self.root) if f.startswith("hidden")])
        run = self.export("with m as (select * from gisowner.rivers) select * from m", "granted")
        self.assertEqual(run.status, 0, run)
        self.assertEqual(len(tv.read_layer(os.path.join(self.root, "granted.shp"))), 2)

    def test_odd_files_in_the_database_directory(self):
        # a FIFO would block any open for ever; a directory is no schema
        db = os.path.join(self.root, "db")
        shutil.copytree(tv.SAMPLE_DB, db)
        os.mkfifo(os.path.join(db, "X.db"))
        os.mkdir(os.path.join(db, "Y.db"))
        os.mkdir(os.path.join(self.root, "owner"))
        done = subprocess.run([tv.TARVEX, "demo/demo@db", "-t", "*", "-s", "gisowner", "-o", "owner/"],
                              cwd=self.root, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        self.assertEqual(done.returncode, 0, done)
        self.assertEqual(sorted(f for f in os.listdir(os.path.join(self.root, "owner")) if f.endswith(".shp")),
                         ["lakes.shp", "rivers.shp"])
        warnings = done.stderr.decode().splitlines()
        self.assertEqual(len(warnings), 2, warnings)
        self.assertTrue(any("X.db is a FIFO" in w for w in warnings), warnings)
        self.assertTrue(any("Y.db is a directory" in w for w in warnings), warnings)
        done = subprocess.run([tv.TARVEX, "x/x@db", "-t", "*", "-o", "x"], cwd=self.root,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("ORA-01157", done.stdout.decode())


if __name__ == "__main__":
    unittest.main()
