"""The .prj file end to end: -p writes the catalogue's text byte for byte;
-p -e writes ESRI's text of the SRID's EPSG code, which GDAL reads as that
EPSG coordinate system, and falls back to the catalogue's text, with one
warning, when no EPSG code is known or PROJ cannot describe it.
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
from osgeo import ogr, osr  # noqa: E402

ROOT = None
DATABASE = None
CATALOGUE_DB = None

# Sample tables per SRID: Oracle's own 8307 and three EPSG systems, one of
# them projected in metres on another datum.
SAMPLE = [("CITIES", 8307, 4326), ("PEAKS", 4326, 4326), ("WELLS", 27700, 27700),
          ("PARCELS", 32633, 32633)]

CATALOGUE_FIXTURE = """CREATE USER surveyor IDENTIFIED BY surveyor;
INSERT INTO MDSYS.CS_SRS (CS_NAME, SRID, AUTH_SRID, AUTH_NAME, WKTEXT) VALUES ('Site grid', 5000001,
  NULL, NULL, 'LOCAL_CS [ "Site grid", LOCAL_DATUM ["Site", 0], UNIT ["Meter", 1.0]]');
INSERT INTO MDSYS.CS_SRS (CS_NAME, SRID, AUTH_SRID, AUTH_NAME, WKTEXT) VALUES ('Withdrawn', 5000002,
  999999, 'epsg', 'GEOGCS [ "Withdrawn", DATUM ["X", SPHEROID ["X", 6378137, 298.3]], PRIMEM [ "Greenwich", 0.000000 ], UNIT ["Decimal Degree", 0.01745329251994330]]');
INSERT INTO MDSYS.CS_SRS (CS_NAME, SRID, AUTH_SRID, AUTH_NAME, WKTEXT) VALUES ('WGS 84 / Pseudo-Mercator',
  3857, 3857, 'Oracle', 'PROJCS["WGS 84 / Pseudo-Mercator", GEOGCS [ "WGS 84" ], PROJECTION ["Popular Visualisation Pseudo Mercator"]]');
ALTER SESSION SET CURRENT_SCHEMA = MDSYS;
CREATE TABLE sdo_coord_ref_sys (srid NUMBER(10), coord_ref_sys_name VARCHAR2(80), data_source VARCHAR2(40),
  is_legacy VARCHAR2(5), legacy_code NUMBER(10));
INSERT INTO sdo_coord_ref_sys VALUES (3857, 'WGS 84 / Pseudo-Mercator', 'EPSG', 'FALSE', NULL);
INSERT INTO sdo_coord_ref_sys VALUES (5000001, 'Site grid', 'EPSG', 'TRUE', 5000001);
ALTER SESSION SET CURRENT_SCHEMA = surveyor;
CREATE TABLE site (id NUMBER(5), geom SDO_GEOMETRY);
INSERT INTO site VALUES (1, SDO_GEOMETRY(2001, 5000001, SDO_POINT_TYPE(10, 20, NULL), NULL, NULL));
CREATE TABLE withdrawn (id NUMBER(5), geom SDO_GEOMETRY);
INSERT INTO withdrawn VALUES (1, SDO_GEOMETRY(2001, 5000002, SDO_POINT_TYPE(10, 20, NULL), NULL, NULL));
INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('SITE', 'GEOM',
  SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', 0, 100, 0.001), SDO_DIM_ELEMENT('Y', 0, 100, 0.001)), 5000001);
INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('WITHDRAWN', 'GEOM',
  SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', 0, 100, 0.001), SDO_DIM_ELEMENT('Y', 0, 100, 0.001)), 5000002);
COMMIT;
"""


def setUpModule():
    global ROOT, DATABASE, CATALOGUE_DB
    if not (tv.SAMPLE_DB and os.path.isdir(tv.SAMPLE_DB)):
        raise unittest.SkipTest("no sample database")
    DATABASE = sample_sql.read_scripts(glob.glob(os.path.join(tv.SOURCE_DIR, "sample", "*.sql")))
    ROOT = tempfile.mkdtemp(prefix="tarvex_e2e_prj_")
    CATALOGUE_DB = os.path.join(ROOT, "catalogue-db")
    tv.build_database(CATALOGUE_DB, CATALOGUE_FIXTURE, ROOT)


def tearDownModule():
    if ROOT:
        shutil.rmtree(ROOT, ignore_errors=True)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def epsg(code):
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(code)
    return srs


class ProjectionFileTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(dir=ROOT)

    def export(self, args, db=None, user="demo/demo", level="detailed"):
        run = tv.tarvex([user + "@" + (db or tv.SAMPLE_DB)] + args, cwd=self.work, level=level)
        self.assertEqual(run.status, 0, run)
        return run

    def assertGdalReadsAs(self, base, code):
        text = read(base + ".prj").decode()
        # The text itself is the EPSG system for GDAL ...
        srs = osr.SpatialReference()
        srs.ImportFromWkt(text)
        self.assertTrue(srs.IsSame(epsg(code)), text)
        # ... and GDAL's shapefile reader (what QGIS uses) names its code.
        ds = ogr.Open(base + ".shp")
        layer_srs = ds.GetLayer(0).GetSpatialRef()
        self.assertEqual(layer_srs.AutoIdentifyEPSG(), 0, text)
        self.assertEqual(layer_srs.GetAuthorityName(None), "EPSG", text)
        self.assertEqual(layer_srs.GetAuthorityCode(None), str(code), text)
        ds = None
        # The text is what GDAL's own shapefile writer puts into a .prj.
        self.assertEqual(text, epsg(code).ExportToWkt(["FORMAT=WKT1_ESRI"]) + "\n")

    def test_sample_srids_esri_text_and_database_text(self):
        for table, srid, code in SAMPLE:
            with self.subTest(table=table):
                esri = self.export(["-t", table, "-o", "esri_" + table, "-p", "-e"])
                self.assertIn("[DETAILED] Projection string in ESRI's dialect from EPSG code : %d" % code,
                              esri.lines())
                self.assertFalse([line for line in esri.lines() if "[WARNING]" in line], esri)
                self.assertGdalReadsAs(os.path.join(self.work, "esri_" + table), code)

                plain = self.export(["-t", table, "-o", "db_" + table, "-p"], level="basic")
                self.assertEqual(read(os.path.join(self.work, "db_" + table + ".prj")),
                                 (DATABASE.wkt[srid] + "\n").encode())
                self.assertNotIn("ESRI", plain.out)

    def test_oracle_text_is_not_recognised_without_the_switch(self):
        # Why the switch exists: GDAL does not take Oracle's 8307 text for EPSG:4326.
        self.export(["-t", "CITIES", "-o", "cities", "-p"])
        srs = osr.SpatialReference()
        srs.ImportFromWkt(read(os.path.join(self.work, "cities.prj")).decode())
        self.assertFalse(srs.IsSame(epsg(4326)))

    def test_oracle_srids_mapped_by_the_database(self):
        # A free query with Oracle's British National Grid and NAD 83 SRIDs.
        for srid, code, point in ((81989, 27700, "530000, 180000"), (8265, 4269, "-77.04, 38.9")):
            with self.subTest(srid=srid):
                sql = ("select 1 id, sdo_geometry(2001, %d, sdo_point_type(%s, null), null, null) geom "
                       "from dual" % (srid, point))
                self.export(["-q", sql, "-g", "geom", "-o", "q%d" % srid, "-p", "-e"])
                self.assertGdalReadsAs(os.path.join(self.work, "q%d" % srid), code)

    def test_epsg_systems_of_oracle_authority_through_the_coordinate_system_table(self):
        # Oracle's catalogue names the authority Oracle also for EPSG systems;
        # SDO_COORD_REF_SYS tells them apart (the embedded client has no such
        # table unless a script makes one, as here).
        sql = "select 1 id, sdo_geometry(2001, 3857, sdo_point_type(0, 0, null), null, null) geom from dual"
        self.export(["-q", sql, "-g", "geom", "-o", "mercator", "-p", "-e"], db=CATALOGUE_DB,
                    user="surveyor/surveyor")
        self.assertGdalReadsAs(os.path.join(self.work, "mercator"), 3857)

    def test_database_text_with_one_warning_when_no_esri_text(self):
        cases = (("SITE", 5000001, "[WARNING] No EPSG code known for this SRID, "
                  "the .prj holds the database's text : 5000001"),
                 ("WITHDRAWN", 5000002, "[WARNING] No ESRI text (PROJ does not know EPSG:999999"))
        for table, srid, warning in cases:
            with self.subTest(table=table):
                run = self.export(["-t", table, "-p", "-e"], db=CATALOGUE_DB, user="surveyor/surveyor",
                                  level="basic")
                warnings = [line for line in run.lines() if line.startswith("[WARNING]")]
                self.assertEqual(len(warnings), 1, run)
                self.assertTrue(warnings[0].startswith(warning), run)
                self.assertTrue(warnings[0].endswith(" : %d" % srid), run)
                text = read(os.path.join(self.work, table.lower() + ".prj")).decode()
                self.assertTrue(text.startswith(("LOCAL_CS [", "GEOGCS [ \"Withdrawn\"")), text)
                self.assertTrue(text.endswith("]\n"), text)

    def test_switch_without_proj_writes_no_prj(self):
        self.export(["-t", "CITIES", "-e"])
        self.assertEqual(tv.shapefile_set(os.path.join(self.work, "cities")),
                         [".cpg", ".dbf", ".shp", ".shx"])

    def test_prj_asked_but_not_writable_is_said_once(self):
        # -p with an SRID the catalogue does not hold, or with no SRID at all:
        # no .prj, and one warning at the default level saying why.
        cases = (("select 1 id, sdo_geometry(2001, 987654, sdo_point_type(1, 2, null), null, null) geom "
                  "from dual", "unknown", "[WARNING] No .prj written, MDSYS.CS_SRS holds no text for SRID : 987654"),
                 ("select 1 id, sdo_geometry(2001, null, sdo_point_type(1, 2, null), null, null) geom "
                  "from dual", "nosrid", "[WARNING] No .prj written, no geometry or a first geometry without SRID"),
                 ("select item_id, geom from null_geometries", "allnull",
                  "[WARNING] No .prj written, no geometry or a first geometry without SRID"))
        for sql, name, warning in cases:
            with self.subTest(name=name):
                run = self.export(["-q", sql, "-g", "geom", "-o", name, "-p"], level="basic")
                warnings = [line for line in run.lines() if line.startswith("[WARNING]")]
                self.assertEqual(len(warnings), 1, run)
                self.assertTrue(warnings[0].startswith(warning), run)
                self.assertEqual(tv.shapefile_set(os.path.join(self.work, name)), [".cpg", ".dbf", ".shp", ".shx"])
        # without -p nothing is said
        run = self.export(["-q", cases[0][0], "-g", "geom", "-o", "quiet"], level="basic")
        self.assertNotIn("[WARNING]", run.out)


if __name__ == "__main__":
    unittest.main()
