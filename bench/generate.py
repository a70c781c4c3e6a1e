#!/usr/bin/python3
"""Builds one benchmark data set: the same N rows as an embedded tarvex
database (loaded with tarvex-sql) and as a GeoPackage (loaded with ogr2ogr
from a CSV with WKT geometries).

    generate.py KIND N OUTDIR TARVEX_SQL

KIND is points (2D points), polygons (100-vertex polygons) or lines (3D
lines of 20 vertices). Each row also has an integer ID and a 20-character
NAME. OUTDIR receives db/ (the embedded database, user bench/bench, table
BENCH) and bench.gpkg (layer bench).

KIND schema writes only db/: user bench/bench with the 20 tables T01 to T20,
each registered in the spatial metadata, of the three kinds in turn (points,
lines, polygons): N/20 points, N/100 lines or N/200 polygons each.
"""
import math
import os
import shutil
import subprocess
import sys

HEAD = """CREATE USER bench IDENTIFIED BY bench;
ALTER SESSION SET CURRENT_SCHEMA = bench;
CREATE TABLE bench (id NUMBER(10), name VARCHAR2(20), geom SDO_GEOMETRY);
INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('BENCH', 'GEOM',
  SDO_DIM_ARRAY(SDO_DIM_ELEMENT('X', -180, 180, 0.005), SDO_DIM_ELEMENT('Y', -90, 90, 0.005)%s), NULL);
"""
BATCH = 5000  # rows per COMMIT


def num(v):
    text = "%.6f" % v
    text = text.rstrip("0").rstrip(".")
    return text if text not in ("-0", "") else "0"


def row(kind, i):
    """Returns (sql geometry constructor, wkt) of row i."""
    cx = (i * 7919 % 359000) / 1000.0 - 179.5
    cy = (i * 104729 % 179000) / 1000.0 - 89.5
    if kind == "points":
        return ("SDO_GEOMETRY(2001, NULL, SDO_POINT_TYPE(%s, %s, NULL), NULL, NULL)" % (num(cx), num(cy)),
                "POINT (%s %s)" % (num(cx), num(cy)))
    if kind == "polygons":
        r = 0.01 + (i % 50) / 10000.0
        xs = [num(cx + r * math.cos(2 * math.pi * k / 99)) for k in range(99)]
        ys = [num(cy + r * math.sin(2 * math.pi * k / 99)) for k in range(99)]
        xs.append(xs[0])
        ys.append(ys[0])
        ords = ", ".join("%s, %s" % p for p in zip(xs, ys))
        wkt = ", ".join("%s %s" % p for p in zip(xs, ys))
        return ("SDO_GEOMETRY(2003, NULL, NULL, SDO_ELEM_INFO_ARRAY(1, 1003, 1), SDO_ORDINATE_ARRAY(%s))" % ords,
                "POLYGON ((%s))" % wkt)
    # lines: 20 vertices with Z
    pts = [(num(cx + k * 0.001), num(cy + (k % 3) * 0.001), num(100 + k + i % 7)) for k in range(20)]
    ords = ", ".join("%s, %s, %s" % p for p in pts)
    wkt = ", ".join("%s %s %s" % p for p in pts)
    return ("SDO_GEOMETRY(3002, NULL, NULL, SDO_ELEM_INFO_ARRAY(1, 2, 1), SDO_ORDINATE_ARRAY(%s))" % ords,
            "LINESTRING Z (%s)" % wkt)


SCHEMA_TABLES = 20
SCHEMA_KINDS = ("points", "lines", "polygons")
SCHEMA_DIVISOR = {"points": 20, "lines": 100, "polygons": 200}


def schema(n, out, loader):
    """The 20-table schema of mixed kinds, as an embedded database only."""
    sql_path = os.path.join(out, "load.sql")
    with open(sql_path, "w") as sql:
        sql.write("CREATE USER bench IDENTIFIED BY bench;\nALTER SESSION SET CURRENT_SCHEMA = bench;\n")
        for t in range(1, SCHEMA_TABLES + 1):
            kind = SCHEMA_KINDS[(t - 1) % len(SCHEMA_KINDS)]
            table = "T%02d" % t
            z_dim = ", SDO_DIM_ELEMENT('Z', -1000, 10000, 0.005)" if kind == "lines" else ""
            sql.write("CREATE TABLE %s (id NUMBER(10), name VARCHAR2(20), geom SDO_GEOMETRY);\n" % table)
            sql.write(HEAD.split("\n", 3)[3].replace("'BENCH'", "'%s'" % table) % z_dim)
            for i in range(1, max(1, n // SCHEMA_DIVISOR[kind]) + 1):
                geom, _ = row(kind, i)
                name = "%s%s" % (kind[0], str(i).rjust(19, "0"))
                sql.write("INSERT INTO %s VALUES (%d, '%s', %s);\n" % (table, i, name, geom))
                if i % BATCH == 0:
                    sql.write("COMMIT;\n")
            sql.write("COMMIT;\n")
    subprocess.run([loader, os.path.join(out, "db"), sql_path], check=True, stdout=subprocess.DEVNULL)
    os.remove(sql_path)


def main():
    if len(sys.argv) != 5 or sys.argv[1] not in ("points", "polygons", "lines", "schema"):
        sys.exit(__doc__)
    kind, n, out, loader = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    if os.path.exists(out):
        shutil.rmtree(out)
    os.makedirs(out)
    if kind == "schema":
        schema(n, out, loader)
        return
    sql_path = os.path.join(out, "load.sql")
    csv_path = os.path.join(out, "bench.csv")
    z_dim = ", SDO_DIM_ELEMENT('Z', -1000, 10000, 0.005)" if kind == "lines" else ""
    with open(sql_path, "w") as sql, open(csv_path, "w") as csv:
        sql.write(HEAD % z_dim)
        csv.write("WKT,ID,NAME\n")
        for i in range(1, n + 1):
            geom, wkt = row(kind, i)
            name = "%s%s" % (kind[0], str(i).rjust(19, "0"))
            sql.write("INSERT INTO bench VALUES (%d, '%s', %s);\n" % (i, name, geom))
            csv.write('"%s",%d,%s\n' % (wkt, i, name))
            if i % BATCH == 0:
                sql.write("COMMIT;\n")
        sql.write("COMMIT;\n")
    with open(os.path.join(out, "bench.csvt"), "w") as f:
        f.write("WKT,Integer,String(20)\n")

    subprocess.run([loader, os.path.join(out, "db"), sql_path], check=True, stdout=subprocess.DEVNULL)
    gtype = {"points": "POINT", "polygons": "POLYGON", "lines": "LINESTRING25D"}[kind]
    subprocess.run(["ogr2ogr", "-f", "GPKG", os.path.join(out, "bench.gpkg"), csv_path,
                    "-nln", "bench", "-nlt", gtype, "-oo", "GEOM_POSSIBLE_NAMES=WKT",
                    "-oo", "KEEP_GEOM_COLUMNS=NO", "-gt", "65536"], check=True)
    os.remove(sql_path)
    os.remove(csv_path)


if __name__ == "__main__":
    main()
