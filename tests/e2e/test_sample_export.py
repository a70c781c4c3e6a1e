"""The whole sample schema exported with "*", -p and -i (curves refused; the
Quick start's -a run is checked in test_curves),
and GISOWNER's tables through ALL_SDO_GEOM_METADATA, each shapefile set read
back with GDAL and compared with what the sample scripts put into the
database: feature counts, shape types, every coordinate, every attribute,
polygon validity and area, and the projection file.
"""
import glob
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sample_sql  # noqa: E402
import tarvex_run as tv  # noqa: E402
from osgeo import ogr  # noqa: E402

# Shape type of a file per gtype of its first geometry.
SHAPE_TYPES = {
    2001: 1, 2002: 3, 2006: 3, 2003: 5, 2007: 5, 2005: 8,
    3001: 11, 4001: 11, 4401: 11, 3002: 13, 3006: 13, 4002: 13, 4006: 13, 4402: 13, 4406: 13,
    3003: 15, 3007: 15, 4003: 15, 4007: 15, 4403: 15, 4407: 15, 3005: 18, 4005: 18, 4405: 18,
    3301: 21, 3302: 23, 3306: 23, 3303: 25, 3307: 25, 3305: 8,
}
Z_SHAPE_TYPES = (11, 13, 15, 18, 31)

ROOT = None
DATABASE = None
RUNS = {}


def setUpModule():
    global ROOT, DATABASE
    if not (tv.SAMPLE_DB and os.path.isdir(tv.SAMPLE_DB)):
        raise unittest.SkipTest("no sample database")
    DATABASE = sample_sql.read_scripts(glob.glob(os.path.join(tv.SOURCE_DIR, "sample", "*.sql")))
    ROOT = tempfile.mkdtemp(prefix="tarvex_e2e_sample_")
    os.mkdir(os.path.join(ROOT, "out"))
    os.mkdir(os.path.join(ROOT, "owner"))
    RUNS["DEMO"] = tv.tarvex(["demo/demo@" + tv.SAMPLE_DB, "-t", "*", "-o", "out/", "-p", "-i"], cwd=ROOT)
    RUNS["GISOWNER"] = tv.tarvex(["demo/demo@" + tv.SAMPLE_DB, "-t", "*", "-s", "gisowner", "-o", "owner/",
                                  "-p"], cwd=ROOT)


def tearDownModule():
    if ROOT:
        shutil.rmtree(ROOT, ignore_errors=True)


def readable(owner, table):
    """Whether demo, who runs the exports, may read the table."""
    return owner == "DEMO" or (owner + "." + table, "DEMO") in DATABASE.grants


def exported_tables():
    """(owner, table, output base) of every registered table demo may read."""
    for owner, folder in (("DEMO", "out"), ("GISOWNER", "owner")):
        for table, column in DATABASE.metadata[owner]:
            if readable(owner, table):
                yield owner, table, os.path.join(ROOT, folder, table.lower())


FAMILIES = {1: "point", 5: "point", 2: "line", 6: "line", 3: "polygon", 7: "polygon"}


def exported_sets():
    """(owner, table, output base, rows) of every set written: one per table,
    or, for a table whose rows mix kinds, one per kind, named <table>_<kind>
    (rows without geometry go with the first kind)."""
    for owner, table, base in exported_tables():
        position = geometry_column(owner, table)
        rows = DATABASE.rows[owner + "." + table]
        kinds = []
        for row in rows:
            kind = FAMILIES.get(row[position].args[0] % 10) if row[position] is not None else None
            if kind is not None and kind not in kinds:
                kinds.append(kind)
        if len(kinds) < 2:
            yield owner, table, base, rows
            continue
        for kind in kinds:
            yield owner, table, base + "_" + kind, [
                row for row in rows
                if (FAMILIES.get(row[position].args[0] % 10, kinds[0]) if row[position] is not None
                    else kinds[0]) == kind]


def geometry_column(owner, table):
    return [name for name, _ in DATABASE.tables[owner + "." + table]].index("GEOM")


def first_geometry(owner, table, rows=None):
    position = geometry_column(owner, table)
    for row in DATABASE.rows[owner + "." + table] if rows is None else rows:
        if row[position] is not None:
            return row[position]
    return None


def expected_shape_type(owner, table, rows):
    """The first geometry's shape type, raised by the later rows of its
    family: to the union of their dimensions, from point to multipoint."""
    position = geometry_column(owner, table)
    geoms = [row[position] for row in rows if row[position] is not None]
    if not geoms:
        return 0
    family = {1: 1, 8: 1, 3: 3, 5: 5}
    first = SHAPE_TYPES[geoms[0].args[0]]
    if first == 31 or first % 10 not in family:
        return first
    kind, z, m = first % 10, first in Z_SHAPE_TYPES, first // 10 == 2
    for geom in geoms[1:]:
        shape = SHAPE_TYPES.get(geom.args[0])
        if shape is None or family.get(shape % 10) != family[kind]:
            continue
        kind = 8 if 8 in (kind, shape % 10) else kind
        z = z or shape in Z_SHAPE_TYPES
        m = m or shape // 10 == 2
    return kind + (10 if z else 20 if m else 0)


def leaves(geom):
    """The vertex lists of an OGR geometry: points, line parts or rings."""
    if geom.GetGeometryCount() > 0:
        result = []
        for i in range(geom.GetGeometryCount()):
            result.extend(leaves(geom.GetGeometryRef(i)))
        return result
    return [[geom.GetPoint(i) for i in range(geom.GetPointCount())]]


def ring_area(ring):
    return abs(sum(ring[i][0] * ring[i + 1][1] - ring[i + 1][0] * ring[i][1]
                   for i in range(len(ring) - 1))) / 2


class SampleExport(unittest.TestCase):
    def test_every_registered_table_is_written_completely(self):
        for owner, run in RUNS.items():
            self.assertEqual(run.status, 0, run)
        for owner, table, base, rows in exported_sets():
            with self.subTest(table=table, set=os.path.basename(base)):
                folder = os.path.basename(os.path.dirname(base))
                self.assertIn("Successfully written %d rows to '%s/%s.shp'"
                              % (len(rows), folder, os.path.basename(base)), RUNS[owner].lines())
                sample = first_geometry(owner, table, rows)
                has_prj = sample is not None and sample.args[1] is not None
                self.assertEqual(tv.shapefile_set(base),
                                 sorted([".cpg", ".dbf", ".shp", ".shx"] + ([".prj"] if has_prj else [])))
                self.assertEqual(len(tv.read_layer(base + ".shp")), len(rows))
                expected_type = expected_shape_type(owner, table, rows)
                self.assertEqual(tv.shp_header_type(base + ".shp"), expected_type)

    def test_another_owners_tables_need_a_grant(self):
        # demo holds grants on some of gisowner's tables, not all: the
        # others are neither listed nor readable (ORA-00942, as Oracle).
        granted = [t for t, _ in DATABASE.metadata["GISOWNER"] if readable("GISOWNER", t)]
        hidden = [t for t, _ in DATABASE.metadata["GISOWNER"] if not readable("GISOWNER", t)]
        self.assertTrue(granted and hidden)
        self.assertEqual(sorted(f for f in os.listdir(os.path.join(ROOT, "owner")) if f.endswith(".shp")),
                         sorted(t.lower() + ".shp" for t in granted))
        for table in hidden:
            run = tv.tarvex(["demo/demo@" + tv.SAMPLE_DB, "-q", "select * from gisowner." + table.lower(),
                             "-g", "geom", "-o", "hidden"], cwd=ROOT)
            self.assertNotEqual(run.status, 0, run)
            self.assertTrue(any("ORA-00942" in line for line in run.errors()), run)
            self.assertFalse(os.path.exists(os.path.join(ROOT, "hidden.shp")))
            run = tv.tarvex(["gisowner/gisowner@" + tv.SAMPLE_DB, "-t", table, "-o", "own"], cwd=ROOT)
            self.assertEqual(run.status, 0, run)

    def test_geometries_equal_the_database(self):
        for owner, table, base, rows in exported_sets():
            position = geometry_column(owner, table)
            file_type = tv.shp_header_type(base + ".shp")
            features = tv.read_layer(base + ".shp")
            for number, (row, (_, geom)) in enumerate(zip(rows, features), 1):
                with self.subTest(table=table, row=number):
                    sdo = row[position]
                    if sdo is None or not sample_sql.is_exportable(sdo):
                        self.assertIsNone(geom)
                        continue
                    self.assertIsNotNone(geom)
                    with_z = file_type in Z_SHAPE_TYPES and sample_sql.z_position(sdo.args[0]) is not None
                    expected = [[(x, y, z if with_z else None) for x, y, z in part]
                                for part in sample_sql.expected_parts(sdo)]
                    got = [[(p[0], p[1], p[2] if with_z else None) for p in part] for part in leaves(geom)]
                    if sdo.args[0] % 10 in (3, 7):
                        # Rings: any order, either orientation.
                        def canonical(rings):
                            return sorted(min(tuple(r), tuple(reversed(r))) for r in rings)
                        self.assertEqual(canonical(got), canonical(expected))
                    else:
                        self.assertEqual(got, expected)

    def test_polygons_with_holes_are_valid_with_the_right_area(self):
        checked = 0
        for owner, table, base, rows in exported_sets():
            position = geometry_column(owner, table)
            features = tv.read_layer(base + ".shp")
            for row, (_, geom) in zip(rows, features):
                sdo = row[position]
                if sdo is None or sdo.args[0] % 10 not in (3, 7) or not sample_sql.is_exportable(sdo):
                    continue
                with self.subTest(table=table, row=row[0]):
                    info = sdo.args[3].args
                    area = 0.0
                    source = ogr.Geometry(ogr.wkbMultiPolygon)
                    for part, etype in zip(sample_sql.expected_parts(sdo), info[1::3]):
                        area += ring_area(part) * (1 if etype == 1003 else -1)
                        ring = ogr.Geometry(ogr.wkbLinearRing)
                        for x, y, _ in part:
                            ring.AddPoint_2D(x, y)
                        if etype == 1003:
                            source.AddGeometry(ogr.Geometry(ogr.wkbPolygon))
                        source.GetGeometryRef(source.GetGeometryCount() - 1).AddGeometry(ring)
                    flat = geom.Clone()
                    flat.FlattenTo2D()
                    # Valid polygons stay valid (the writer orders and orients rings).
                    self.assertEqual(flat.IsValid(), source.IsValid())
                    self.assertAlmostEqual(flat.GetArea(), area, places=6)
                    checked += 1 if len(info) > 3 else 0
        self.assertGreaterEqual(checked, 5)

    def test_attributes_equal_the_database(self):
        for owner, table, base, rows in exported_sets():
            columns = [(i, name, kind) for i, (name, kind) in enumerate(DATABASE.tables[owner + "." + table])
                       if kind != "SDO_GEOMETRY" and not kind.startswith("RAW") and kind != "LONG RAW"]
            ds = ogr.Open(base + ".shp")
            layer = ds.GetLayer(0)
            defn = layer.GetLayerDefn()
            self.assertEqual(defn.GetFieldCount(), len(columns), table)
            for row, feature in zip(rows, layer):
                for field, (position, name, kind) in enumerate(columns):
                    with self.subTest(table=table, row=row[0], column=name):
                        value = row[position]
                        if value is None:
                            self.assertFalse(feature.IsFieldSetAndNotNull(field))
                            continue
                        self.assertTrue(feature.IsFieldSetAndNotNull(field))
                        got = feature.GetField(field)
                        if kind.startswith(("VARCHAR2", "CHAR", "NVARCHAR2", "NCHAR", "CLOB", "NCLOB")):
                            self.assertEqual(got, value)
                        elif kind.startswith(("DATE", "TIMESTAMP")):
                            text = value.text if isinstance(value, sample_sql.Typed) else value.args[0]
                            self.assertEqual(got, text[:10].replace("-", "/"))
                        else:
                            decimals = defn.GetFieldDefn(field).GetPrecision()
                            self.assertAlmostEqual(got, value, delta=0.5 * 10 ** -decimals + 1e-9 * abs(value))

    def test_projection_files_hold_the_catalogue_text(self):
        for owner, table, base, rows in exported_sets():
            sample = first_geometry(owner, table, rows)
            if sample is None or sample.args[1] is None:
                continue
            with self.subTest(table=table):
                with open(base + ".prj", encoding="utf-8") as f:
                    self.assertEqual(f.read().strip(), DATABASE.wkt[sample.args[1]].strip())
                ds = ogr.Open(base + ".shp")
                self.assertIsNotNone(ds.GetLayer(0).GetSpatialRef())


if __name__ == "__main__":
    unittest.main()
