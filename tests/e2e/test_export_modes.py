"""tarvex end to end on a fixture database (fixture_gis.sql): single table,
free query, "*" with and without owner, LONG / RAW columns, the inner-ring
check, "ignore", timings, NULL geometries and the failure paths. Outputs are
read back with GDAL.
"""
import os
import re
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tarvex_run as tv  # noqa: E402

ROOT = None
DB = None


def setUpModule():
    global ROOT, DB
    ROOT = tempfile.mkdtemp(prefix="tarvex_e2e_modes_")
    DB = os.path.join(ROOT, "db")
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixture_gis.sql"),
              encoding="utf-8") as f:
        tv.build_database(DB, f.read(), ROOT)


def tearDownModule():
    shutil.rmtree(ROOT, ignore_errors=True)


class ExportTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(dir=ROOT)

    def run_gis(self, *args, level="basic", user="gis/gispw"):
        return tv.tarvex([user + "@" + DB] + list(args), cwd=self.work, level=level)

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def assertSucceeded(self, run, *bases):
        self.assertEqual(run.status, 0, run)
        self.assertEqual(run.errors(), [], run)
        for base, count in bases:
            self.assertIn("Successfully written %d rows to '%s.shp'" % (count, base), run.lines(), run)

    def assertPointsEqual(self, geom, expected):
        points = [geom.GetPoint_2D(i) for i in range(geom.GetPointCount())]
        self.assertEqual(points, expected)


class SingleTableAndQuery(ExportTest):
    def test_table_found_in_metadata_with_points_attributes_and_null_geometry(self):
        run = self.run_gis("-t", "cities", level="detailed")
        self.assertSucceeded(run, ("cities", 5))
        self.assertIn("Connected to:\r\n", run.out)
        self.assertIn("Exporting to shape file : cities.shp", run.lines())
        self.assertIn("[DETAILED] Found geometry column (GEOM) at position : 6", run.lines())
        self.assertEqual(tv.shapefile_set(self.path("cities")), [".cpg", ".dbf", ".shp", ".shx"])
        self.assertEqual(tv.shp_header_type(self.path("cities.shp")), 1)

        rows = tv.read_layer(self.path("cities.shp"))
        self.assertEqual(len(rows), 5)
        by_id = {attrs["ID"]: (attrs, geom) for attrs, geom in rows}
        attrs, geom = by_id[1]
        self.assertEqual(attrs["NAME"], "Zürich")
        self.assertEqual(attrs["POPULATION"], 421878)
        self.assertAlmostEqual(attrs["RATIO"], 0.25)
        self.assertEqual(attrs["FOUNDED"], "2023/12/31")
        self.assertEqual((geom.GetX(), geom.GetY()), (8.5417, 47.3769))
        self.assertEqual(by_id[2][0]["NAME"], "Kraków")
        self.assertEqual(by_id[3][0]["NAME"], "São Paulo")
        self.assertEqual(by_id[3][0]["POPULATION"], 12325232)
        self.assertAlmostEqual(by_id[3][0]["RATIO"], -3.75)
        self.assertEqual((by_id[3][1].GetX(), by_id[3][1].GetY()), (-46.6333, -23.55))
        # Point given by its ordinates; NULL text, number and date.
        attrs, geom = by_id[4]
        self.assertEqual((geom.GetX(), geom.GetY()), (0.5, -0.25))
        self.assertIsNone(attrs["NAME"])
        self.assertIsNone(attrs["POPULATION"])
        self.assertIsNone(attrs["FOUNDED"])
        # NULL geometry: a null shape with its attributes.
        attrs, geom = by_id[5]
        self.assertIsNone(geom)
        self.assertEqual(attrs["NAME"], "Nowhere")
        self.assertEqual(attrs["FOUNDED"], "2000/02/29")

    def test_owner_qualified_table_and_output_name(self):
        run = self.run_gis("-t", "roads", "-s", "gis", "-o", "out_roads", level="debug")
        self.assertSucceeded(run, ("out_roads", 3))
        self.assertIn("[DEBUG] SQL : SELECT * FROM \"GIS\".\"ROADS\"", run.lines())
        self.assertEqual(tv.shp_header_type(self.path("out_roads.shp")), 3)
        rows = {a["ID"]: (a, g) for a, g in tv.read_layer(self.path("out_roads.shp"))}
        self.assertPointsEqual(rows[1][1], [(0, 0), (10, 0), (10, 5)])
        ring = rows[2][1]
        self.assertEqual(ring.GetGeometryCount(), 2)
        self.assertPointsEqual(ring.GetGeometryRef(0), [(0, 0), (1, 1)])
        self.assertPointsEqual(ring.GetGeometryRef(1), [(2, 2), (3, 3)])
        self.assertEqual(rows[3][0]["NAME"], "Ποταμός")
        self.assertPointsEqual(rows[3][1], [(1.5, 2.5), (-3.25, 4.125)])
        # Per-row debug lines and geometry dumps at the debug level.
        self.assertEqual(run.lines().count("[DEBUG] Dump of next geometry object"), 3)
        self.assertIn("SDO GTYPE = 2006", run.lines())
        # Geometries kept to the end of the export ("nofree") give the same
        # file and are still released (the leak checker would object).
        run = self.run_gis("-t", "roads", "-n", "-o", "kept")
        self.assertSucceeded(run, ("kept", 3))
        with open(self.path("kept.shp"), "rb") as kept, open(self.path("out_roads.shp"), "rb") as first:
            self.assertEqual(kept.read(), first.read())

    def test_free_query_is_exported_unchanged(self):
        run = self.run_gis("-q", "select id, name, geom from roads where id <= 2", "-g", "geom",
                           "-o", "q", level="debug")
        self.assertSucceeded(run, ("q", 2))
        self.assertIn("[DEBUG] Executing check geom type query : select GEOM from (\n"
                      "select id, name, geom from roads where id <= 2\n) where GEOM is not null and rownum = 1\n",
                      run.out)
        self.assertEqual(sorted(tv.field_types(self.path("q.shp"))), ["ID", "NAME"])
        self.assertEqual(len(tv.read_layer(self.path("q.shp"))), 2)

    def test_multipoints_of_three_and_four_dimensions_keep_their_z(self):
        for gtype, ordinates in ((3005, "1,2,3, 4,5,6"), (4005, "1,2,3,9, 4,5,6,9")):
            query = ("select SDO_GEOMETRY(%d, NULL, NULL, SDO_ELEM_INFO_ARRAY(1,1,2), SDO_ORDINATE_ARRAY(%s)) "
                     "geom from dual" % (gtype, ordinates))
            run = self.run_gis("-q", query, "-g", "geom", "-o", "mp")
            self.assertSucceeded(run, ("mp", 1))
            self.assertEqual(tv.shp_header_type(self.path("mp.shp")), 18, gtype)  # MultiPointZ
            geom = tv.read_layer(self.path("mp.shp"))[0][1]
            points = [geom.GetGeometryRef(i) for i in range(geom.GetGeometryCount())]
            self.assertEqual([(p.GetX(), p.GetY(), p.GetZ()) for p in points], [(1, 2, 3), (4, 5, 6)], gtype)

    def test_free_query_without_its_geometry_column_writes_nothing(self):
        run = self.run_gis("-q", "select id, name from cities", "-g", "geom", "-o", "nothing")
        self.assertEqual(run.status, 2, run)
        self.assertIn("[ERROR] Couldn't find geometry column (GEOM) in query : select id, name from cities",
                      run.lines())
        self.assertNotIn("Successfully", run.out)
        self.assertEqual(os.listdir(self.work), [])

    def test_table_not_in_metadata_is_not_exported_unless_column_given(self):
        run = self.run_gis("-t", "unregistered")
        self.assertEqual(run.status, 2, run)
        self.assertTrue(any(e.startswith("[ERROR] Error retrieving geometry column from metadata : ")
                            for e in run.errors()), run)
        self.assertNotIn("Exporting to shape file", run.out)
        self.assertEqual(os.listdir(self.work), [])
        run = self.run_gis("-t", "unregistered", "-g", "geom")
        self.assertSucceeded(run, ("unregistered", 1))

    def test_all_null_geometries_give_a_null_shape_file(self):
        run = self.run_gis("-t", "allnull")
        self.assertSucceeded(run, ("allnull", 2))
        self.assertEqual(tv.shp_header_type(self.path("allnull.shp")), 0)

    def test_client_errors_after_the_main_query_fail_the_export_cleanly(self):
        # A trailing comment and a trailing ";" cannot break the probe query.
        for query in ("select * from cities -- all of them", "select * from cities;",
                      "select * from cities ; \n", "select * from cities; -- all of them",
                      "select * from cities /* ; */ ;\n/* all */"):
            run = self.run_gis("-q", query, "-g", "geom", "-o", "probe", "-x")
            self.assertSucceeded(run, ("probe", 5))
            self.assertIn("' ended at : ", run.out)
        # A "geometry" column that holds text.
        run = self.run_gis("-q", "select id, name geom from cities", "-g", "geom", "-o", "text")
        self.assertEqual(run.status, 2, run)
        self.assertTrue(run.errors(), run)
        self.assertNotIn("Successfully", run.out)


class SkippedColumns(ExportTest):
    def test_raw_column_before_geometry_is_dropped(self):
        run = self.run_gis("-t", "parcels", level="debug")
        self.assertSucceeded(run, ("parcels", 2))
        self.assertIn("[WARNING] RAW / LONG RAW column will be skipped : PIC", run.lines())
        self.assertIn("[DEBUG] New SQL statement : SELECT ID,OWNER_NAME,GEOM FROM \"PARCELS\"", run.lines())
        self.assertEqual(sorted(tv.field_types(self.path("parcels.shp"))), ["ID", "OWNER_NAME"])
        rows = {a["ID"]: (a, g) for a, g in tv.read_layer(self.path("parcels.shp"))}
        self.assertEqual(rows[1][0]["OWNER_NAME"], "Ann")
        # Polygon with a hole: valid, right area, both rings.
        holed = rows[1][1]
        self.assertEqual(holed.GetGeometryName(), "POLYGON")
        self.assertTrue(holed.IsValid())
        self.assertAlmostEqual(holed.GetArea(), 96.0)
        self.assertEqual(holed.GetGeometryCount(), 2)
        self.assertAlmostEqual(rows[2][1].GetArea(), 50.0)

    def test_two_skipped_columns_before_geometry_shift_its_position(self):
        run = self.run_gis("-t", "scans", level="debug")
        self.assertSucceeded(run, ("scans", 2))
        self.assertIn("[WARNING] RAW / LONG RAW column will be skipped : THUMB", run.lines())
        self.assertIn("[WARNING] RAW / LONG RAW column will be skipped : DOC", run.lines())
        self.assertIn("[DEBUG] New SQL statement : SELECT ID,GEOM,LABEL FROM \"SCANS\"", run.lines())
        rows = {a["ID"]: (a, g) for a, g in tv.read_layer(self.path("scans.shp"))}
        self.assertEqual(sorted(rows[1][0]), ["ID", "LABEL"])
        self.assertEqual((rows[1][1].GetX(), rows[1][1].GetY()), (100.25, -45.5))
        self.assertEqual(rows[2][0]["LABEL"], "second")
        self.assertEqual((rows[2][1].GetX(), rows[2][1].GetY()), (7, 8))

    def test_free_query_not_beginning_with_select_star_is_not_rewritten(self):
        run = self.run_gis("-q", "SELECT id, pic, geom FROM parcels", "-g", "geom", "-o", "free",
                           level="debug")
        self.assertSucceeded(run, ("free", 2))
        self.assertIn("[WARNING] RAW / LONG RAW column will be skipped : PIC", run.lines())
        self.assertNotIn("Fixing SQL statement", run.out)
        self.assertEqual(sorted(tv.field_types(self.path("free.shp"))), ["ID"])
        self.assertAlmostEqual(tv.read_layer(self.path("free.shp"))[0][1].GetArea(), 96.0)


class InnerRingsAndIgnore(ExportTest):
    def test_inner_ring_check_forces_multipatch_unless_type_forced(self):
        run = self.run_gis("-t", "parcels", "-r")
        self.assertSucceeded(run, ("parcels", 2))
        self.assertIn("Forcing type to be multi-patch as inner-rings detected", run.lines())
        self.assertEqual(tv.shp_header_type(self.path("parcels.shp")), 31)

        run = self.run_gis("-t", "parcels", "-r", "-f", "5", "-o", "forced")
        self.assertSucceeded(run, ("forced", 2))
        self.assertNotIn("multi-patch", run.out)
        self.assertEqual(tv.shp_header_type(self.path("forced.shp")), 5)

        # A free query is checked on its own rows.
        run = self.run_gis("-q", "select * from parcels", "-g", "geom", "-o", "rings", "-r")
        self.assertSucceeded(run, ("rings", 2))
        self.assertIn("Forcing type to be multi-patch as inner-rings detected", run.lines())
        run = self.run_gis("-q", "select * from parcels where id = 2", "-g", "geom", "-o", "onering", "-r")
        self.assertSucceeded(run, ("onering", 1))
        self.assertNotIn("multi-patch", run.out)

        # Without inner rings the check leaves the polygon type (the table's
        # collection of a point and a line puts those in sets of their own).
        run = self.run_gis("-t", "arcs", "-r", "-i", "-o", "norings")
        self.assertNotIn("multi-patch", run.out)
        self.assertEqual(tv.shp_header_type(self.path("norings_polygon.shp")), 5)

    def test_arcs_rectangles_and_collections_fail_unless_ignored(self):
        run = self.run_gis("-t", "arcs")
        self.assertEqual(run.status, 2, run)
        self.assertIn("[ERROR] Failed writing row : 2", run.lines())
        self.assertNotIn("Successfully", run.out)

        # The collection of a point and a line (row 5) lands in a set of
        # points and a set of lines; a forced type refuses it.
        run = self.run_gis("-t", "arcs", "-i", "-o", "ignored")
        self.assertEqual(run.status, 0, run)
        self.assertIn("Successfully written 4 rows to 'ignored_polygon.shp'", run.lines())
        rows = {a["ID"]: g for a, g in tv.read_layer(self.path("ignored_polygon.shp"))}
        self.assertAlmostEqual(rows[1].GetArea(), 8.0)
        self.assertIsNone(rows[2])
        self.assertIsNone(rows[3])
        self.assertAlmostEqual(rows[4].GetArea(), 2.0)
        points = {a["ID"]: g for a, g in tv.read_layer(self.path("ignored_point.shp"))}
        lines = {a["ID"]: g for a, g in tv.read_layer(self.path("ignored_line.shp"))}
        self.assertEqual(points[5].ExportToIsoWkt(), "POINT (0 0)")
        self.assertEqual(lines[5].ExportToIsoWkt(), "LINESTRING (1 1,2 2)")
        run = self.run_gis("-t", "arcs", "-i", "-f", "5", "-o", "forced")
        self.assertEqual(run.status, 0, run)
        self.assertIn("[ERROR] Geometry does not match the shapefile's shape type : 1 (Point) into 5 (Polygon)",
                      run.lines())
        self.assertIsNone({a["ID"]: g for a, g in tv.read_layer(self.path("forced.shp"))}[5])


class Timings(ExportTest):
    TIME = r"\d{1,2}:\d\d\.\d\d"

    def test_start_and_end_lines_also_when_the_query_fails(self):
        run = self.run_gis("-t", "cities", "-x")
        self.assertSucceeded(run, ("cities", 5))
        lines = run.lines()
        start = [i for i, l in enumerate(lines) if re.fullmatch("Export run for 'cities' started at : " + self.TIME, l)]
        end = [i for i, l in enumerate(lines) if re.fullmatch("Export run for 'cities' ended at : " + self.TIME, l)]
        self.assertEqual(len(start), 1, run)
        self.assertEqual(len(end), 1, run)
        self.assertLess(start[0], end[0])

        run = self.run_gis("-q", "select * from no_such_table", "-g", "geom", "-o", "none", "-x")
        self.assertEqual(run.status, 2, run)
        self.assertIn("[ERROR] Error executing query : select * from no_such_table", run.lines())
        self.assertTrue(any(l.startswith("[ERROR] ORA-00942") for l in run.lines()), run)
        self.assertTrue(any(re.fullmatch("Export run for 'none' started at : " + self.TIME, l) for l in run.lines()))
        self.assertTrue(any(re.fullmatch("Export run for 'none' ended at : " + self.TIME, l) for l in run.lines()))


class AllTables(ExportTest):
    GIS_TABLES = [("cities", 5), ("roads", 3), ("parcels", 2), ("scans", 2), ("arcs", 5), ("allnull", 2)]

    def test_user_schema_into_a_directory(self):
        os.mkdir(self.path("out"))
        run = self.run_gis("-t", "*", "-o", "out/", "-i", level="debug")
        self.assertEqual(run.status, 0, run)
        self.assertIn("[DEBUG] Getting table list using : "
                      "select table_name,column_name,user from user_sdo_geom_metadata", run.lines())
        self.assertIn("[DEBUG] Built SQL : select * from \"CITIES\"", run.lines())
        exported = [l[len("Exporting to shape file : "):] for l in run.lines()
                    if l.startswith("Exporting to shape file : ")]
        # The database decides the listing's order.
        self.assertEqual(sorted(exported), sorted("out/%s.shp" % t for t, _ in self.GIS_TABLES))
        # ARCS holds polygons and a collection of a point and a line.
        sets = [(t, n) for t, n in self.GIS_TABLES if t != "arcs"] + [
            ("arcs_polygon", 4), ("arcs_point", 1), ("arcs_line", 1)]
        for table, count in sets:
            self.assertIn("Successfully written %d rows to 'out/%s.shp'" % (count, table), run.lines())
            self.assertEqual(len(tv.read_layer(self.path("out", table + ".shp"))), count)
        self.assertEqual(sorted(os.listdir(self.work)), ["out"])

    def test_owner_schema_without_separator_and_without_output(self):
        run = self.run_gis("-t", "*", "-s", "atlas", "-o", "pre_", "-i", level="debug")
        self.assertEqual(run.status, 0, run)
        self.assertIn("[DEBUG] Getting table list using : "
                      "select table_name,column_name,owner from all_sdo_geom_metadata where owner = :1",
                      run.lines())
        self.assertIn("[DEBUG] Built SQL : select * from \"ATLAS\".\"A2\"", run.lines())
        for table in ("a1", "a2", "a3", "a4", "a5"):
            self.assertTrue(os.path.exists(self.path("pre_%s.shp" % table)), run)
        a2 = tv.read_layer(self.path("pre_a2.shp"))
        self.assertEqual(len(a2), 2)
        self.assertEqual([g.GetPoint_2D(1) for _, g in a2], [(1, 1), (2, 0)])

        os.mkdir(self.path("plain"))
        run = tv.tarvex(["atlas/atlaspw@" + DB, "-t", "*", "-i"], cwd=self.path("plain"))
        self.assertEqual(run.status, 0, run)
        self.assertEqual(sorted(os.listdir(self.path("plain"))),
                         sorted(t + e for t in ("a1", "a2", "a3", "a4", "a5")
                                for e in (".cpg", ".dbf", ".shp", ".shx")))

    def test_empty_listing_exports_nothing_and_says_so(self):
        # An owner without registered tables (a mistyped name, say): status 0, one warning.
        run = self.run_gis("-t", "*", "-s", "nobody", "-o", "./")
        self.assertEqual(run.status, 0, run)
        warnings = [l for l in run.lines() if l.startswith("[WARNING]")]
        self.assertEqual(warnings, ["[WARNING] No table of the spatial metadata that this user can "
                                    "read, nothing exported, schema : NOBODY"], run)
        self.assertEqual(os.listdir(self.work), [])

    def test_third_table_failing_stops_the_run_and_keeps_the_first_two(self):
        run = self.run_gis("-t", "*", "-s", "ATLAS", "-o", "./")
        self.assertEqual(run.status, 2, run)
        self.assertIn("Successfully written 1 rows to './a1.shp'", run.lines())
        self.assertIn("Successfully written 2 rows to './a2.shp'", run.lines())
        self.assertNotIn("Successfully written 1 rows to './a3.shp'", run.lines())
        self.assertNotIn("a4", run.out)
        self.assertEqual(len(tv.read_layer(self.path("a1.shp"))), 1)
        self.assertEqual(len(tv.read_layer(self.path("a2.shp"))), 2)
        self.assertFalse(os.path.exists(self.path("a4.shp")))
        self.assertFalse(os.path.exists(self.path("a5.shp")))

    def test_two_geometry_columns_of_one_table_get_distinct_files(self):
        os.mkdir(self.path("out"))
        run = tv.tarvex(["edge/edgepw@" + DB, "-t", "*", "-o", "out/"], cwd=self.work)
        self.assertEqual(run.status, 0, run)
        exported = [l[len("Exporting to shape file : "):] for l in run.lines()
                    if l.startswith("Exporting to shape file : ")]
        self.assertEqual(len(exported), 2, run)
        self.assertEqual(exported[0], "out/twin.shp")
        self.assertIn(exported[1], ("out/twin_geom.shp", "out/twin_centre.shp"))
        files = {os.path.basename(e)[:-4]: tv.read_layer(self.path(e)) for e in exported}
        self.assertEqual(sorted(os.listdir(self.path("out"))),
                         sorted(b + e for b in files for e in (".cpg", ".dbf", ".shp", ".shx")))
        polygon = [rows for rows in files.values() if rows[0][1].GetGeometryName() == "POLYGON"]
        point = [rows for rows in files.values() if rows[0][1].GetGeometryName() == "POINT"]
        self.assertEqual(len(polygon), 1)
        self.assertEqual(len(point), 1)
        self.assertAlmostEqual(polygon[0][0][1].GetArea(), 2.0)
        self.assertEqual((point[0][0][1].GetX(), point[0][0][1].GetY()), (1.5, 0.5))

    def test_database_names_stay_inside_the_directory(self):
        os.mkdir(self.path("out"))
        run = tv.tarvex(["evil/evilpw@" + DB, "-t", "*", "-o", "out/"], cwd=self.work)
        self.assertIn("Exporting to shape file : out/___escape.shp", run.lines(), run)
        self.assertEqual(run.status, 2, run)
        self.assertEqual(sorted(os.listdir(self.work)), ["out"])
        self.assertEqual(os.listdir(self.path("out")), [])

    def test_empty_listing_is_not_a_failure(self):
        run = tv.tarvex(["edge/edgepw@" + DB, "-t", "*", "-s", "NOBODY"], cwd=self.work)
        self.assertEqual(run.status, 0, run)
        self.assertNotIn("Exporting", run.out)


if __name__ == "__main__":
    unittest.main()
