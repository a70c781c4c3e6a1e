"""Sets too large for one file: --max-size closes a set's part before any of
its files passes the size, and the rows go on in <name>_2, <name>_3, ...
Outputs are read back with GDAL.
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
ROWS = 25000


def setUpModule():
    global ROOT, DB
    ROOT = tempfile.mkdtemp(prefix="tarvex_e2e_large_")
    DB = os.path.join(ROOT, "db")
    lines = ["CREATE USER big IDENTIFIED BY bigpw;", "ALTER SESSION SET CURRENT_SCHEMA = big;",
             "CREATE TABLE many (id NUMBER(8), name VARCHAR2(60), geom SDO_GEOMETRY);"]
    for i in range(1, ROWS + 1):
        lines.append("INSERT INTO many VALUES (%d, 'point number %d', SDO_GEOMETRY(2001, NULL, "
                     "SDO_POINT_TYPE(%d, %d, NULL), NULL, NULL));" % (i, i, i % 1000, i // 1000))
        if i % 5000 == 0:
            lines.append("COMMIT;")
    lines += ["CREATE TABLE few_lines (id NUMBER(8), name VARCHAR2(60), geom SDO_GEOMETRY);",
              "INSERT INTO few_lines VALUES (%d, 'line', SDO_GEOMETRY(2002, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,2,1), "
              "SDO_ORDINATE_ARRAY(0,0, 1,1)));" % (ROWS + 1)]
    tv.build_database(DB, "\n".join(lines) + "\n", ROOT)


def tearDownModule():
    shutil.rmtree(ROOT, ignore_errors=True)


class LargeSets(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(dir=ROOT)

    def run_big(self, *args):
        return tv.tarvex(["big/bigpw@" + DB, "-q", "select * from many", "-g", "geom", "-o", "many"] + list(args),
                         cwd=self.work)

    def test_parts_hold_every_row_once_and_no_file_passes_the_size(self):
        run = self.run_big("--max-size", "1M")
        self.assertEqual(run.status, 0, run)
        self.assertEqual(run.errors(), [], run)
        parts = ["many", "many_2"]
        self.assertEqual(sorted(f for f in os.listdir(self.work) if f.endswith(".shp")),
                         sorted(p + ".shp" for p in parts), run)
        ids = []
        for part in parts:
            for ext in (".shp", ".shx", ".dbf", ".cpg"):
                self.assertLessEqual(os.path.getsize(os.path.join(self.work, part + ext)), 1 << 20)
            rows = tv.read_layer(os.path.join(self.work, part + ".shp"))
            self.assertIn("Successfully written %d rows to '%s.shp'" % (len(rows), part), run.lines())
            for attrs, geom in rows:
                self.assertEqual((geom.GetX(), geom.GetY()), (attrs["ID"] % 1000, attrs["ID"] // 1000))
                ids.append(attrs["ID"])
        self.assertEqual(ids, list(range(1, ROWS + 1)))  # each once, in the query's order

    def test_parts_follow_the_sets_per_kind(self):
        run = tv.tarvex(["big/bigpw@" + DB, "-q", "select * from many union all select * from few_lines",
                         "-g", "geom", "-o", "mixed", "--max-size", "1M"], cwd=self.work)
        self.assertEqual(run.status, 0, run)
        self.assertIn("[WARNING] Rows of several kinds written to one set per kind : "
                      "mixed_point (%d), mixed_point_2 (%d), mixed_line (1)" % (
                          len(tv.read_layer(os.path.join(self.work, "mixed_point.shp"))),
                          len(tv.read_layer(os.path.join(self.work, "mixed_point_2.shp")))), run.lines(), run)
        ids = [a["ID"] for part in ("mixed_point", "mixed_point_2", "mixed_line")
               for a, _ in tv.read_layer(os.path.join(self.work, part + ".shp"))]
        self.assertEqual(ids, list(range(1, ROWS + 2)))
        self.assertFalse(os.path.exists(os.path.join(self.work, "mixed.shp")))

    def test_a_size_that_is_no_size_is_an_argument_error(self):
        for value in ("1", "63K", "5G", "1.5M", "1MB"):
            run = self.run_big("--max-size", value)
            self.assertEqual(run.status, 1, run)
            self.assertIn("[ERROR] Largest file size must be a whole number with an optional K, M or G, "
                          "from 64K to 4G : " + value, run.lines())


if __name__ == "__main__":
    unittest.main()
