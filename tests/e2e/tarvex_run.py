"""Helpers shared by the end-to-end tests: running tarvex and tarvex-sql,
reading shapefiles back with GDAL.

Environment (set by CTest): TARVEX_BIN, TARVEX_SQL, TARVEX_SAMPLE_DB,
TARVEX_SOURCE_DIR.
"""
import os
import struct
import subprocess

from osgeo import gdal, ogr, osr

ogr.UseExceptions()
osr.UseExceptions()
# GDAL's warnings (an unclosed ring, say) would only clutter the test log;
# the tests check the geometries themselves.
gdal.PushErrorHandler("CPLQuietErrorHandler")

TARVEX = os.environ.get("TARVEX_BIN", "")
TARVEX_SQL = os.environ.get("TARVEX_SQL", "")
SAMPLE_DB = os.environ.get("TARVEX_SAMPLE_DB", "")
SOURCE_DIR = os.environ.get("TARVEX_SOURCE_DIR", "")


class Run:
    """The outcome of one tarvex run."""

    def __init__(self, status, out):
        self.status = status
        self.out = out

    def lines(self):
        return self.out.splitlines()

    def errors(self):
        return [line for line in self.lines() if line.startswith("[ERROR] ")]

    def __repr__(self):
        return "exit status %d, output:\n%s" % (self.status, self.out)


def tarvex(args, cwd, level="basic", stdin=None, timeout=120):
    """Runs tarvex with the given arguments in cwd; standard error must stay empty."""
    env = dict(os.environ, TARVEX_LOG_LEVEL=level)
    done = subprocess.run([TARVEX] + list(args), cwd=cwd, env=env,
                          input=stdin.encode() if stdin is not None else None,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    out = done.stdout.decode("utf-8", errors="replace")
    err = done.stderr.decode("utf-8", errors="replace")
    if err:
        raise AssertionError("tarvex wrote to standard error (status %d):\n%s\nstdout:\n%s"
                             % (done.returncode, err, out))
    return Run(done.returncode, out)


def build_database(path, script_text, workdir):
    """Creates a database directory from one SQL script with tarvex-sql."""
    script = os.path.join(workdir, os.path.basename(path) + ".sql")
    with open(script, "w", encoding="utf-8") as f:
        f.write(script_text)
    done = subprocess.run([TARVEX_SQL, path, script], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=300)
    if done.returncode != 0:
        raise RuntimeError("tarvex-sql failed: " + done.stdout.decode(errors="replace"))


def shp_header_type(path):
    """The shape type stored in a .shp header."""
    with open(path, "rb") as f:
        header = f.read(100)
    return struct.unpack("<i", header[32:36])[0]


def read_layer(path):
    """(geometry type name of the .shp header, [(attributes dict, geometry WKT or None)])."""
    ds = ogr.Open(path)
    if ds is None:
        raise AssertionError("GDAL cannot open " + path)
    layer = ds.GetLayer(0)
    defn = layer.GetLayerDefn()
    names = [defn.GetFieldDefn(i).GetName() for i in range(defn.GetFieldCount())]
    rows = []
    for feature in layer:
        attrs = {}
        for i, name in enumerate(names):
            attrs[name] = feature.GetField(i) if feature.IsFieldSetAndNotNull(i) else None
        geom = feature.GetGeometryRef()
        rows.append((attrs, geom.Clone() if geom is not None else None))
    return rows


def field_types(path):
    """{field name: (OGR type name, width, precision)}."""
    ds = ogr.Open(path)
    defn = ds.GetLayer(0).GetLayerDefn()
    result = {}
    for i in range(defn.GetFieldCount()):
        fd = defn.GetFieldDefn(i)
        result[fd.GetName()] = (fd.GetFieldTypeName(fd.GetType()), fd.GetWidth(), fd.GetPrecision())
    return result


def shapefile_set(base):
    """The files of one set that exist."""
    return sorted(ext for ext in (".shp", ".shx", ".dbf", ".prj", ".cpg")
                  if os.path.exists(base + ext))
