"""A small reader of the sample database's SQL scripts, enough to know what
each table holds: schemas, table columns, inserted rows (with SDO_GEOMETRY
values), the spatial metadata rows and MDSYS.CS_SRS. The end-to-end tests
compare tarvex's shapefiles with it.
"""
import re

TOKEN = re.compile(r"""
    (?P<space>\s+)
  | (?P<comment>--[^\n]*|/\*.*?\*/)
  | (?P<string>'(?:[^']|'')*')
  | (?P<number>\d+(?:\.\d*)?(?:[eE][-+]?\d+)?|\.\d+(?:[eE][-+]?\d+)?)
  | (?P<ident>"[^"]*"|[A-Za-z_][A-Za-z0-9_$#]*(?:\.[A-Za-z_][A-Za-z0-9_$#]*)?)
  | (?P<punct>[(),;=*/+-])
""", re.X | re.S)


class Call:
    """A function call or constructor: NAME(args)."""

    def __init__(self, name, args):
        self.name = name
        self.args = args

    def __repr__(self):
        return "%s(%r)" % (self.name, self.args)


class Typed:
    """A typed literal such as DATE '2001-05-17'."""

    def __init__(self, kind, text):
        self.kind = kind
        self.text = text


def tokenize(text):
    tokens = []
    pos = 0
    while pos < len(text):
        m = TOKEN.match(text, pos)
        if not m:
            raise ValueError("cannot read SQL at: " + text[pos:pos + 40])
        pos = m.end()
        kind = m.lastgroup
        if kind in ("space", "comment"):
            continue
        value = m.group(kind)
        if kind == "string":
            value = value[1:-1].replace("''", "'")
        tokens.append((kind, value))
    return tokens


def statements(text):
    current = []
    for token in tokenize(text):
        if token == ("punct", ";"):
            if current:
                yield current
            current = []
        else:
            current.append(token)
    if current:
        yield current


class Parser:
    def __init__(self, tokens):
        self.tokens = tokens
        self.pos = 0

    def peek(self):
        return self.tokens[self.pos] if self.pos < len(self.tokens) else (None, None)

    def take(self, expected=None):
        token = self.peek()
        if expected is not None and token[1] != expected:
            raise ValueError("expected %s, found %s" % (expected, token))
        self.pos += 1
        return token

    def expression(self):
        kind, value = self.take()
        if kind == "punct" and value == "-":
            return -self.expression()
        if kind == "number":
            return float(value) if any(c in value for c in ".eE") else int(value)
        if kind == "string":
            return value
        if kind == "ident":
            if value.upper() == "NULL":
                return None
            if self.peek()[0] == "string" and value.upper() in ("DATE", "TIMESTAMP"):
                return Typed(value.upper(), self.take()[1])
            if self.peek() == ("punct", "("):
                return Call(value.upper(), self.arguments())
            return value
        raise ValueError("unexpected token %s" % ((kind, value),))

    def arguments(self):
        self.take("(")
        args = []
        if self.peek() == ("punct", ")"):
            self.take()
            return args
        while True:
            args.append(self.expression())
            kind, value = self.take()
            if value == ")":
                return args
            if value != ",":
                raise ValueError("expected , or ) but found " + str(value))


def column_definitions(tokens):
    """(name, type text) of a CREATE TABLE's parenthesised column list."""
    columns = []
    depth = 0
    current = []
    for kind, value in tokens:
        if value == "(":
            depth += 1
            if depth == 1:
                continue
        elif value == ")":
            depth -= 1
            if depth == 0:
                break
        if depth == 1 and value == ",":
            columns.append(current)
            current = []
        elif depth >= 1:
            current.append(value)
    if current:
        columns.append(current)
    return [(c[0].upper(), " ".join(c[1:]).upper()) for c in columns]


class Database:
    """What the scripts put into the database."""

    def __init__(self):
        self.tables = {}     # "OWNER.TABLE" -> [(column, type)]
        self.rows = {}       # "OWNER.TABLE" -> [[values]]
        self.metadata = {}   # owner -> [(table, column)]
        self.wkt = {}        # srid -> well-known text
        self.grants = set()  # ("OWNER.TABLE", GRANTEE) of GRANT SELECT ON owner.table TO grantee

    def read(self, text):
        schema = None
        for tokens in statements(text):
            words = [v.upper() for k, v in tokens[:6]]
            if words[:5] == ["ALTER", "SESSION", "SET", "CURRENT_SCHEMA", "="]:
                schema = tokens[5][1].upper()
            elif words[:3] == ["GRANT", "SELECT", "ON"]:
                text = "".join(v for _, v in tokens[3:]).upper()
                target, _, grantee = text.partition("TO")
                self.grants.add((target if "." in target else schema + "." + target, grantee))
            elif words[:2] == ["CREATE", "TABLE"]:
                name = schema + "." + tokens[2][1].upper()
                self.tables[name] = column_definitions(tokens[3:])
                self.rows[name] = []
            elif words[:2] == ["INSERT", "INTO"]:
                target = tokens[2][1].upper()
                parser = Parser(tokens[3:])
                names = None
                if parser.peek() == ("punct", "("):
                    names = [str(v).upper() for v in parser.arguments()]
                parser.take("VALUES") if parser.peek()[1] == "VALUES" else parser.take("values")
                values = parser.arguments()
                if names is not None:
                    record = dict(zip(names, values))
                if target == "USER_SDO_GEOM_METADATA":
                    self.metadata.setdefault(schema, []).append(
                        (record["TABLE_NAME"].upper(), record["COLUMN_NAME"].upper()))
                elif target == "MDSYS.CS_SRS":
                    self.wkt[record["SRID"]] = record["WKTEXT"]
                else:
                    self.rows[target if "." in target else schema + "." + target].append(values)
        return self


def read_scripts(paths):
    db = Database()
    for path in sorted(paths):
        with open(path, encoding="utf-8") as f:
            db.read(f.read())
    return db


# ---------------------------------------------------------------- geometries

def element_ordinate_ranges(elem_info, count):
    """(etype, interpretation, first, end) ordinate index ranges of the elements."""
    triplets = [elem_info[i:i + 3] for i in range(0, len(elem_info), 3)]
    ranges = []
    for n, (offset, etype, interpretation) in enumerate(triplets):
        end = triplets[n + 1][0] - 1 if n + 1 < len(triplets) else count
        ranges.append((etype, interpretation, offset - 1, end))
    return ranges


def vertex_size(gtype):
    return gtype // 1000


def z_position(gtype):
    """Index of Z in a vertex, or None."""
    dims = gtype // 1000
    measure = (gtype // 100) % 10
    if dims == 3 and measure == 0:
        return 2
    if dims == 4:
        return 2 if measure != 3 else 3
    return None


def is_exportable(geometry):
    """Whether tarvex converts the geometry: a known type made of
    straight-line elements only."""
    gtype = geometry.args[0]
    if gtype % 100 in (0, 4) or gtype % 100 > 7:
        return False
    if geometry.args[3] is None:
        return True
    info = geometry.args[3].args
    for i in range(0, len(info), 3):
        etype, interpretation = info[i + 1], info[i + 2]
        if etype in (4, 1005, 2005):
            return False
        if etype in (2, 3, 1003, 2003) and interpretation != 1:
            return False
    return True


def expected_parts(geometry):
    """The vertex lists tarvex must write for a geometry: [[(x, y, z or None)]]."""
    gtype, _, point = geometry.args[0], geometry.args[1], geometry.args[2]
    zpos = z_position(gtype)
    if gtype % 100 == 1 and point is not None:
        x, y, z = point.args
        return [[(x, y, z if zpos is not None else None)]]
    elem_info = geometry.args[3].args
    ordinates = geometry.args[4].args
    size = vertex_size(gtype)
    parts = []
    for etype, interpretation, first, end in element_ordinate_ranges(elem_info, len(ordinates)):
        vertices = [tuple(ordinates[i:i + size]) for i in range(first, end, size)]
        vertices = [(v[0], v[1], v[zpos] if zpos is not None else None) for v in vertices]
        if etype == 1:
            parts.extend([[v] for v in vertices])
        else:
            parts.append(vertices)
    return parts
