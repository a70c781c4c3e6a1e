"""Attribute values at their extremes, end to end: a table with one column of
each kind is loaded with tarvex-sql, exported with a date format, and read
back with GDAL and from the .dbf's own bytes. Every value is the database's,
or cut / NULL with its warning line; the export succeeds.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tarvex_run as tv  # noqa: E402

ROOT = None
DB = None
CJK = "東京都渋谷"  # 5 characters, 15 bytes of UTF-8
MEGABYTE = 1 << 20

SCRIPT = """
CREATE USER vals IDENTIFIED BY valspw;
ALTER SESSION SET CURRENT_SCHEMA = vals;
CREATE TABLE extremes (
  id NUMBER(3), big NUMBER(38), whole INTEGER, id17 NUMBER(17), free NUMBER, flt FLOAT,
  dbl BINARY_DOUBLE, sgl BINARY_FLOAT, chars VARCHAR2(5 CHAR), nchars NVARCHAR2(5),
  long_text VARCHAR2(4000), bad VARCHAR2(20), memo CLOB, nmemo NCLOB, born DATE,
  seen TIMESTAMP WITH LOCAL TIME ZONE, geom SDO_GEOMETRY);
INSERT INTO USER_SDO_GEOM_METADATA VALUES ('EXTREMES', 'GEOM',
  SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', -180, 180, 0.005), SDO_DIM_ELEMENT('Y', -90, 90, 0.005)), 8307);
INSERT INTO extremes VALUES (1, 999999999999999999, 2147483648, 99999999999999999, 1e-10, 1e100,
  1e999, 0.1, '@CJK@', '@CJK@', '@LONG@', 'plain', '@MEGA@', '@CJK@',
  TO_DATE('2023-12-31', 'YYYY-MM-DD'), TIMESTAMP '2024-02-29 13:14:15.5',
  SDO_GEOMETRY(2001, 8307, SDO_POINT_TYPE(1, 2, NULL), NULL, NULL));
INSERT INTO extremes VALUES (2, -999999999999999999, -9223372036854775807, -99999999999999999, 1e125,
  -1.5, 'NaN', -1e999, 'abc', NULL, NULL, '@BAD@', 'short', NULL,
  TO_DATE('2024-09-11', 'YYYY-MM-DD'), NULL,
  SDO_GEOMETRY(2001, 8307, SDO_POINT_TYPE(3, 4, NULL), NULL, NULL));
INSERT INTO extremes VALUES (3, 0, 0, 0, -0.000001, 3.14159265, -0.0, 1e999, NULL, NULL, NULL, NULL,
  NULL, NULL, NULL, NULL, SDO_GEOMETRY(2001, 8307, SDO_POINT_TYPE(5, 6, NULL), NULL, NULL));
INSERT INTO extremes VALUES (4, NULL, NULL, NULL, 0.3333333333333333, 1.23456789012345e37, -1e999,
  NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
  SDO_GEOMETRY(2001, 8307, SDO_POINT_TYPE(7, 8, NULL), NULL, NULL));
CREATE TABLE ancient (born DATE, geom SDO_GEOMETRY);
INSERT INTO ancient VALUES (TO_DATE('0001-01-02', 'YYYY-MM-DD'), NULL);
INSERT INTO ancient VALUES (TO_DATE('0100-12-31', 'YYYY-MM-DD'), NULL);
INSERT INTO ancient VALUES (DATE '0999-07-04', NULL);
INSERT INTO ancient VALUES (DATE '1000-01-01', NULL);
CREATE TABLE wide (@WIDE@, geom SDO_GEOMETRY);
INSERT INTO wide (c1, c300) VALUES (1, 300);
"""
WIDE_COLUMNS = 300


def setUpModule():
    global ROOT, DB
    ROOT = tempfile.mkdtemp(prefix="tarvex_e2e_values_")
    DB = os.path.join(ROOT, "db")
    wide = ", ".join("c%d NUMBER(3)" % i for i in range(1, WIDE_COLUMNS + 1))
    text = (SCRIPT.replace("@CJK@", CJK).replace("@WIDE@", wide).replace("@LONG@", "é" * 2000)
            .replace("@MEGA@", "x" * MEGABYTE))
    # Invalid UTF-8 goes into the script as raw bytes.
    data = text.encode("utf-8").replace(b"@BAD@", b"a\xff\xfeb")
    script = os.path.join(ROOT, "values.sql")
    with open(script, "wb") as f:
        f.write(data)
    done = subprocess.run([tv.TARVEX_SQL, DB, script], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=300)
    if done.returncode != 0:
        raise RuntimeError("tarvex-sql failed: " + done.stdout.decode(errors="replace"))


def tearDownModule():
    shutil.rmtree(ROOT, ignore_errors=True)


def dbf_texts(path):
    """The raw text of every field of every record, from the file's bytes:
    [{field name: text without its padding}]."""
    with open(path, "rb") as f:
        data = f.read()
    count, header, length = struct.unpack("<IHH", data[4:12])
    fields = []
    offset = 1
    for pos in range(32, header - 1, 32):
        if data[pos] == 0x0D:
            break
        name = data[pos:pos + 11].split(b"\0")[0].decode()
        width = data[pos + 16]
        fields.append((name, offset, width))
        offset += width
    records = []
    for r in range(count):
        record = data[header + r * length:header + (r + 1) * length]
        texts = {}
        for name, o, w in fields:
            text = record[o:o + w].decode("utf-8").strip()
            texts[name] = None if text == "*" * w else text  # NULL in a numeric field
        records.append(texts)
    return records


class ExactValues(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(dir=ROOT)
        cls.result = tv.tarvex(["vals/valspw@" + DB, "-t", "extremes", "-d", "Day dd Month yyyy"],
                            cwd=cls.work)
        base = os.path.join(cls.work, "extremes")
        cls.rows = [attrs for attrs, _ in tv.read_layer(base + ".shp")]
        cls.types = tv.field_types(base + ".shp")
        cls.texts = dbf_texts(base + ".dbf")

    def column(self, name):
        return [row[name] for row in self.rows]

    def test_the_export_succeeds_with_one_warning_per_column_and_change(self):
        self.assertEqual(self.result.status, 0, self.result)
        self.assertEqual(self.result.errors(), [], self.result)
        self.assertIn("Successfully written 4 rows to 'extremes.shp'", self.result.lines(), self.result)
        warnings = [line for line in self.result.lines() if line.startswith("[WARNING] ")]
        self.assertEqual(sorted(warnings), sorted([
            "[WARNING] Infinity or NaN written as NULL in 3 rows of column : DBL",
            "[WARNING] Infinity or NaN written as NULL in 2 rows of column : SGL",
            "[WARNING] Text cut to the field width in 1 row of column : LONG_TEXT",
            "[WARNING] Text cut to the field width in 1 row of column : MEMO",
            "[WARNING] Invalid UTF-8 replaced by U+FFFD in 1 row of column : BAD",
        ]), self.result)

    def test_integers_keep_every_digit(self):
        # In the file: the exact digits, whatever the width.
        self.assertEqual([t["BIG"] for t in self.texts],
                         ["999999999999999999", "-999999999999999999", "0", None])
        self.assertEqual([t["WHOLE"] for t in self.texts],
                         ["2147483648", "-9223372036854775807", "0", None])
        # NUMBER(17) fits GDAL's 64-bit integers: equal as integers.
        self.assertEqual(self.types["ID17"][0], "Integer64")
        self.assertEqual(self.column("ID17"), [99999999999999999, -99999999999999999, 0, None])
        # Wider fields GDAL reads as doubles: the nearest double.
        self.assertEqual(self.types["BIG"], ("Real", 39, 0))
        self.assertEqual(self.column("BIG"), [float(999999999999999999), float(-999999999999999999),
                                              0.0, None])
        self.assertEqual(self.column("WHOLE")[:2], [2147483648.0, float(-9223372036854775807)])

    def test_unconstrained_and_binary_numbers(self):
        for name in ("FREE", "FLT", "DBL", "SGL"):
            self.assertEqual(self.types[name], ("Real", 24, 15), name)
        self.assertEqual(self.column("FREE"), [1e-10, 1e125, -0.000001, 0.3333333333333333])
        self.assertEqual([t["FREE"] for t in self.texts],
                         ["0.000000000100000", "1e+125", "-0.000001000000000", "3.333333333333333e-01"])
        self.assertEqual(self.column("FLT"), [1e100, -1.5, 3.14159265, 1.23456789012345e37])
        self.assertEqual(self.texts[3]["FLT"], "1.23456789012345e+37")
        self.assertEqual(self.column("DBL"), [None, None, -0.0, None])
        # A BINARY_FLOAT is written as the float's shortest digits: read as
        # a float it is the database's value.
        as_float = [struct.unpack("<f", struct.pack("<f", v))[0] if v is not None else None
                    for v in self.column("SGL")]
        self.assertEqual(as_float, [struct.unpack("<f", struct.pack("<f", 0.1))[0], None, None, None])
        self.assertEqual(self.texts[0]["SGL"], "0.100000000000000")

    def test_text_fits_and_stays_valid(self):
        self.assertEqual(self.types["CHARS"], ("String", 20, 0))
        self.assertEqual(self.types["NCHARS"], ("String", 15, 0))
        self.assertEqual(self.column("CHARS"), [CJK, "abc", None, None])
        self.assertEqual(self.column("NCHARS"), [CJK, None, None, None])
        self.assertEqual(self.column("LONG_TEXT"), ["é" * 127, None, None, None])
        self.assertEqual(self.column("BAD"), ["plain", "a\ufffd\ufffdb", None, None])
        self.assertEqual(self.types["MEMO"], ("String", 255, 0))
        self.assertEqual(self.column("MEMO"), ["x" * 255, "short", None, None])
        self.assertEqual(self.column("NMEMO"), [CJK, None, None, None])

    def test_formatted_dates_fit(self):
        self.assertEqual(self.types["BORN"], ("String", 27, 0))
        self.assertEqual([v.split() if v else v for v in self.column("BORN")],
                         [["Sunday", "31", "December", "2023"], ["Wednesday", "11", "September", "2024"],
                          None, None])
        self.assertEqual(self.column("SEEN")[0].split(), ["Thursday", "29", "February", "2024"])



class DbaseLimits(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(dir=ROOT)

    def test_dates_before_year_1000_keep_their_leading_zeros(self):
        run = tv.tarvex(["vals/valspw@" + DB, "-t", "ancient", "-g", "geom"], cwd=self.work)
        self.assertEqual((run.status, run.errors()), (0, []), run)
        texts = dbf_texts(os.path.join(self.work, "ancient.dbf"))
        self.assertEqual([t["BORN"] for t in texts], ["00010102", "01001231", "09990704", "10000101"])

    def test_more_than_255_fields_are_written_with_one_warning(self):
        run = tv.tarvex(["vals/valspw@" + DB, "-t", "wide", "-g", "geom"], cwd=self.work)
        self.assertEqual((run.status, run.errors()), (0, []), run)
        self.assertEqual([l for l in run.lines() if l.startswith("[WARNING] ")],
                         ["[WARNING] More than 255 fields, some dBASE readers stop at 255 : %d" % WIDE_COLUMNS])
        rows = [attrs for attrs, _ in tv.read_layer(os.path.join(self.work, "wide.shp"))]
        self.assertEqual(len(rows[0]), WIDE_COLUMNS)
        self.assertEqual((rows[0]["C1"], rows[0]["C300"]), (1, 300))


if __name__ == "__main__":
    unittest.main()
