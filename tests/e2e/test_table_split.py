"""One table over several connections (-t TABLE -j N): the merged set holds
every row exactly once and reads back like the -j 1 set; a free query stays
on one connection with one warning, and so does a table without ROWID; a failed or stopped split export leaves
the previous set as it was and no file of its parts.
"""
import os
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
ROWS = 6000


def setUpModule():
    global ROOT, DB
    ROOT = tempfile.mkdtemp(prefix="tarvex_e2e_split_")
    script = ["CREATE USER split IDENTIFIED BY splitpw;", "ALTER SESSION SET CURRENT_SCHEMA = split;",
              "CREATE TABLE pts (id NUMBER(9), name VARCHAR2(12), geom SDO_GEOMETRY);",
              "CREATE TABLE bare (geom SDO_GEOMETRY);",
              "CREATE TABLE zones (id NUMBER(9), geom SDO_GEOMETRY);"]
    for i in range(ROWS):
        # a NULL geometry and negative coordinates among them
        geom = "NULL" if i % 997 == 5 else \
            "SDO_GEOMETRY(2001, 4326, SDO_POINT_TYPE(%d.25, %d.5, NULL), NULL, NULL)" % (i % 360 - 180, i // 360 - 9)
        script.append("INSERT INTO pts VALUES (%d, 'n%d', %s);" % (i, i, geom))
        if i < 300:
            script.append("INSERT INTO bare VALUES (SDO_GEOMETRY(2001, NULL, SDO_POINT_TYPE(%d, 1, NULL), NULL, NULL));"
                          % i)
            script.append("INSERT INTO zones VALUES (%d, SDO_GEOMETRY(2003, NULL, NULL, SDO_ELEM_INFO_ARRAY(1, 1003, 1), "
                          "SDO_ORDINATE_ARRAY(%d, 0, %d, 0, %d, 2, %d, 2, %d, 0)));" % (i, i, i + 1, i + 1, i, i))
        if i % 2000 == 1999:
            script.append("COMMIT;")
    for table in ("PTS", "BARE", "ZONES"):
        script.append("INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES "
                      "('%s', 'GEOM', SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', -180, 400, 0.005), "
                      "SDO_DIM_ELEMENT('Y', -90, 90, 0.005)), NULL);" % table)
    script.append("CREATE VIEW ptsv AS SELECT * FROM pts;")
    script.append("COMMIT;")
    DB = os.path.join(ROOT, "db")
    tv.build_database(DB, "\n".join(script) + "\n", ROOT)


def tearDownModule():
    shutil.rmtree(ROOT, ignore_errors=True)


def hidden(directory):
    return sorted(name for name in os.listdir(directory) if name.startswith("."))


def snapshot(directory):
    result = {}
    for name in os.listdir(directory):
        with open(os.path.join(directory, name), "rb") as f:
            result[name] = f.read()
    return result


def canonical(path):
    """The header's type, the fields, the extent and the sorted rows of a set."""
    from osgeo import ogr
    ds = ogr.Open(path)
    layer = ds.GetLayer(0)
    rows = sorted((sorted((k, repr(v)) for k, v in attrs.items() if k != "FID"),
                   geom.ExportToIsoWkt() if geom is not None else None)
                  for attrs, geom in tv.read_layer(path))
    return tv.shp_header_type(path), tv.field_types(path), layer.GetExtent(), rows


class TableSplit(unittest.TestCase):
    def setUp(self):
        self.out = tempfile.mkdtemp(dir=ROOT)

    def export(self, args, **kw):
        return tv.tarvex(["split/splitpw@" + DB] + args, cwd=self.out, **kw)

    def test_every_row_once_and_read_back_like_one_connection(self):
        # (table, rows, whether the .dbf holds the FID of record numbers)
        for table, rows, fid in (("pts", ROWS, False), ("bare", 300, True), ("zones", 300, False)):
            with self.subTest(table=table):
                one = self.export(["-t", table, "-o", table + "_1", "-p"])
                four = self.export(["-t", table, "-o", table + "_4", "-p", "-j", "4"])
                self.assertEqual((one.status, four.status), (0, 0), four)
                self.assertIn("Successfully written %d rows to '%s_4.shp'" % (rows, table), four.out)
                # the same warnings as one connection gives, once
                self.assertEqual([l.replace("_4", "_1") for l in four.lines() if l.startswith("[")],
                                 [l for l in one.lines() if l.startswith("[")], four)
                base1, base4 = os.path.join(self.out, table + "_1"), os.path.join(self.out, table + "_4")
                self.assertEqual(tv.shapefile_set(base4), tv.shapefile_set(base1))
                # the files' modes too (the first part's files become the set's)
                self.assertEqual([os.stat(base4 + ext).st_mode for ext in tv.shapefile_set(base4)],
                                 [os.stat(base1 + ext).st_mode for ext in tv.shapefile_set(base1)])
                if os.path.exists(base1 + ".prj"):
                    with open(base1 + ".prj") as a, open(base4 + ".prj") as b:
                        self.assertEqual(a.read(), b.read())
                self.assertEqual(canonical(base4 + ".shp"), canonical(base1 + ".shp"))
                read = tv.read_layer(base4 + ".shp")
                self.assertEqual(len(read), rows)
                if fid:
                    self.assertEqual(sorted(attrs["FID"] for attrs, _ in read), list(range(rows)))
                else:
                    self.assertEqual(sorted(attrs["ID"] for attrs, _ in read), list(range(rows)))
                self.assertEqual(os.path.getsize(base4 + ".shx"), 100 + 8 * rows)
                self.assertEqual(hidden(self.out), [])

    def test_free_query_stays_on_one_connection_with_one_warning(self):
        run = self.export(["-q", "select * from pts", "-g", "geom", "-o", "q", "-j", "3"])
        self.assertEqual(run.status, 0, run)
        warnings = [l for l in run.lines() if l.startswith("[WARNING]")]
        self.assertEqual(warnings, ["[WARNING] A free query is read on one connection, -j has no effect : 3"])
        self.assertEqual(len(tv.read_layer(os.path.join(self.out, "q.shp"))), ROWS)

    def test_view_without_rowid_is_read_on_one_connection(self):
        # The embedded client's views have no ROWID (Oracle's may not either).
        run = self.export(["-t", "ptsv", "-g", "geom", "-o", "v", "-j", "3"])
        self.assertEqual(run.status, 0, run)
        self.assertEqual([l for l in run.lines() if l.startswith("[")],
                         ["[WARNING] The table cannot be read in parts (its rows have no ROWID), "
                          "exported on one connection : PTSV"])
        self.assertEqual(len(tv.read_layer(os.path.join(self.out, "v.shp"))), ROWS)

    def test_failed_part_leaves_previous_set_and_no_part_files(self):
        # The sample's curved zones fail without -a: one part fails.
        sample = ["demo/demo@" + tv.SAMPLE_DB, "-t", "zones_curved", "-o", "z"]
        self.assertEqual(tv.tarvex(sample + ["-i"], cwd=self.out).status, 0)
        before = snapshot(self.out)
        run = tv.tarvex(sample + ["-j", "3"], cwd=self.out)
        self.assertEqual(run.status, 2, run)
        self.assertTrue(run.errors(), run)
        self.assertEqual(snapshot(self.out), before)

    def test_stop_signal_leaves_previous_set_and_no_part_files(self):
        self.assertEqual(self.export(["-t", "pts", "-o", "s"]).status, 0)
        before = snapshot(self.out)
        # Slow round trips: the parts are still being read when the signal comes.
        env = dict(os.environ, TARVEX_LOG_LEVEL="basic", TARVEX_EMBEDDED_ROUND_TRIP_MS="300")
        proc = subprocess.Popen([tv.TARVEX, "split/splitpw@" + DB, "-t", "pts", "-o", "s", "-j", "4"],
                                cwd=self.out, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        lock = os.path.join(self.out, ".s.tarvex-lock")
        deadline = time.time() + 30
        while not os.path.exists(lock) and time.time() < deadline:
            time.sleep(0.02)
        time.sleep(0.8)
        proc.send_signal(signal.SIGTERM)
        out, err = proc.communicate(timeout=60)
        self.assertEqual(proc.returncode, 128 + signal.SIGTERM, out.decode() + err.decode())
        self.assertIn(b"stopped by signal", out)
        self.assertEqual(snapshot(self.out), before)

    def test_worker_stopped_alone_leaves_the_parents_lock(self):
        # A signal that stops one worker runs its handler, which removes the
        # files that worker registered: never the lock its parent holds.
        env = dict(os.environ, TARVEX_LOG_LEVEL="basic", TARVEX_EMBEDDED_ROUND_TRIP_MS="1000")
        proc = subprocess.Popen([tv.TARVEX, "split/splitpw@" + DB, "-t", "pts", "-o", "w", "-j", "2"],
                                cwd=self.out, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        lock = os.path.join(self.out, ".w.tarvex-lock")
        children = "/proc/%d/task/%d/children" % (proc.pid, proc.pid)
        deadline = time.time() + 30
        workers = []
        while not workers and time.time() < deadline:
            with open(children) as f:
                workers = [int(pid) for pid in f.read().split()]
            time.sleep(0.05)
        self.assertTrue(workers)
        time.sleep(0.5)
        os.kill(workers[0], signal.SIGTERM)
        time.sleep(0.3)
        alive, locked = proc.poll() is None, os.path.exists(lock)
        out, err = proc.communicate(timeout=60)
        self.assertTrue(alive, out.decode())  # the other part is still being read
        self.assertTrue(locked, out.decode())
        self.assertNotEqual(proc.returncode, 0, out.decode())
        self.assertEqual(hidden(self.out), [])


if __name__ == "__main__":
    unittest.main()
