"""The program driver end to end: argument refusals, connection failures
without the password, interactive mode through standard input, exit statuses.
"""
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tarvex_run as tv  # noqa: E402

ROOT = None
DB = None

FIXTURE = """CREATE USER pilot IDENTIFIED BY "S3cr&t/pw";
ALTER SESSION SET CURRENT_SCHEMA = pilot;
CREATE TABLE towns (id NUMBER(5), name VARCHAR2(20), geom SDO_GEOMETRY);
INSERT INTO towns VALUES (1, 'Åre', SDO_GEOMETRY(2001, NULL, SDO_POINT_TYPE(13.08, 63.4, NULL), NULL, NULL));
INSERT INTO towns VALUES (2, 'Oslo', SDO_GEOMETRY(2001, NULL, SDO_POINT_TYPE(10.75, 59.91, NULL), NULL, NULL));
INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('TOWNS', 'GEOM',
  SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', -180, 180, 0.005), SDO_DIM_ELEMENT('Y', -90, 90, 0.005)), NULL);
COMMIT;
"""
PASSWORD = "S3cr&t/pw"


def setUpModule():
    global ROOT, DB
    ROOT = tempfile.mkdtemp(prefix="tarvex_e2e_driver_")
    DB = os.path.join(ROOT, "db")
    tv.build_database(DB, FIXTURE, ROOT)


def tearDownModule():
    shutil.rmtree(ROOT, ignore_errors=True)


class DriverTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(dir=ROOT)

    def test_argument_refusals_exit_with_one(self):
        run = tv.tarvex(["pilot/x@" + DB], cwd=self.work)
        self.assertEqual(run.status, 1, run)
        self.assertEqual(run.lines()[0], "[ERROR] Incorrect number of arguments : 2")
        self.assertIn("Usage notes : ", run.lines())
        run = tv.tarvex(["pilot/x@" + DB, "-q", "select * from towns", "-g", "geom"], cwd=self.work)
        self.assertEqual(run.status, 1, run)
        self.assertIn("[ERROR] Must supply at minimum -t, or -q with -g and -o", run.lines())
        self.assertNotIn("Connected", run.out)
        self.assertEqual(os.listdir(self.work), [])

    def test_wrong_password_reports_without_the_password_at_every_level(self):
        for level in ("basic", "debug"):
            run = tv.tarvex(["pilot/not-" + PASSWORD + "@" + DB, "-t", "towns"], cwd=self.work, level=level)
            self.assertEqual(run.status, 2, run)
            self.assertIn("[ERROR] Could not connect to database : pilot/<password>@" + DB, run.lines())
            self.assertTrue(any(l.startswith("[ERROR] ORA-01017") for l in run.lines()), run)
            self.assertNotIn(PASSWORD, run.out)
            self.assertNotIn("Connected to:", run.out)
        # A good password is not shown either, even at the debug level.
        run = tv.tarvex(["pilot/" + PASSWORD + "@" + DB, "-t", "towns"], cwd=self.work, level="debug")
        self.assertEqual(run.status, 0, run)
        self.assertNotIn(PASSWORD, run.out)

    def test_missing_database_and_sample_database_refusals(self):
        run = tv.tarvex(["pilot/pw@" + os.path.join(self.work, "nowhere"), "-t", "towns"], cwd=self.work)
        self.assertEqual(run.status, 2, run)
        self.assertTrue(any(l.startswith("[ERROR] ORA-12154") for l in run.lines()), run)
        if tv.SAMPLE_DB and os.path.isdir(tv.SAMPLE_DB):
            run = tv.tarvex(["demo/wrong-pw@" + tv.SAMPLE_DB, "-t", "x"], cwd=self.work, level="debug")
            self.assertEqual(run.status, 2, run)
            self.assertIn("[ERROR] Could not connect to database : demo/<password>@" + tv.SAMPLE_DB, run.lines())
            self.assertTrue(any(l.startswith("[ERROR] ORA-01017") for l in run.lines()), run)
            self.assertNotIn("wrong-pw", run.out)

    def test_connects_and_shuts_down_in_order(self):
        run = tv.tarvex(["pilot/" + PASSWORD + "@" + DB, "-t", "towns", "-o", "t"], cwd=self.work,
                        level="detailed")
        self.assertEqual(run.status, 0, run)
        self.assertIn("\nConnected to:\r\nTarvex Embedded Database", run.out)
        self.assertLess(run.out.index("Connected to:"), run.out.index("Exporting to shape file : t.shp"))
        lines = run.lines()
        self.assertEqual(lines[-2:], ["Successfully written 2 rows to 't.shp'",
                                      "[DETAILED] Terminated Oracle connection"])
        self.assertNotIn("Press enter", run.out)

    def test_interactive_mode_through_standard_input(self):
        answers = "pilot/%s@%s\ntowns\n\n\nmytowns\n\n" % (PASSWORD, DB)
        run = tv.tarvex([], cwd=self.work, stdin=answers)
        self.assertEqual(run.status, 0, run)
        self.assertIn("Connected to:", run.out)
        self.assertIn("Successfully written 2 rows to 'mytowns.shp'", run.lines())
        self.assertTrue(run.out.endswith("Press enter to continue...\n"), run)
        self.assertNotIn(PASSWORD, run.out)
        rows = tv.read_layer(os.path.join(self.work, "mytowns.shp"))
        self.assertEqual(sorted(a["NAME"] for a, _ in rows), ["Oslo", "Åre"])
        self.assertFalse(os.path.exists(os.path.join(self.work, "mytowns.prj")))

    def test_interactive_refusals_still_pause(self):
        # A connect string that cannot be split: refused arguments.
        run = tv.tarvex([], cwd=self.work, stdin="nonsense\ntowns\n\n\n\n\n")
        self.assertEqual(run.status, 1, run)
        self.assertIn("Usage notes : ", run.lines())
        self.assertTrue(run.out.endswith("Press enter to continue...\n"), run)
        # Standard input closed at once.
        run = tv.tarvex([], cwd=self.work, stdin="")
        self.assertEqual(run.status, 1, run)
        self.assertTrue(run.out.endswith("Press enter to continue...\n"), run)
        # Accepted answers, failed export (table not registered): status 2.
        run = tv.tarvex([], cwd=self.work, stdin="pilot/%s@%s\nnothere\n\n\n\n\n" % (PASSWORD, DB))
        self.assertEqual(run.status, 2, run)
        self.assertTrue(run.out.endswith("Press enter to continue...\n"), run)


if __name__ == "__main__":
    unittest.main()
