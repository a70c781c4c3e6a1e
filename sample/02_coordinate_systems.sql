-- Sample database, step 2: the coordinate systems the sample tables use, in
-- the catalogue MDSYS.CS_SRS (the .prj text tarvex writes with -p), with the
-- well-known text as Oracle stores it: Oracle's own names, spacing and
-- numbers, EPSG identifiers in the datum names, the datum's shift parameters
-- listed inside DATUM without a TOWGS84 keyword. Oracle's own SRIDs (8307,
-- 8265, 81989) carry the authority 'Oracle'; their EPSG codes come from
-- SDO_CS.MAP_ORACLE_SRID_TO_EPSG (tarvex -p -e).
INSERT INTO MDSYS.CS_SRS (CS_NAME, SRID, AUTH_SRID, AUTH_NAME, WKTEXT) VALUES (
  'Longitude / Latitude (WGS 84)', 8307, 8307, 'Oracle',
  'GEOGCS [ "Longitude / Latitude (WGS 84)", DATUM ["WGS 84", SPHEROID ["WGS 84", 6378137, 298.257223563]], PRIMEM [ "Greenwich", 0.000000 ], UNIT ["Decimal Degree", 0.01745329251994330]]');

INSERT INTO MDSYS.CS_SRS (CS_NAME, SRID, AUTH_SRID, AUTH_NAME, WKTEXT) VALUES (
  'Longitude / Latitude (NAD 83)', 8265, 8265, 'Oracle',
  'GEOGCS [ "Longitude / Latitude (NAD 83)", DATUM ["NAD 83", SPHEROID ["GRS 80", 6378137, 298.257222101]], PRIMEM [ "Greenwich", 0.000000 ], UNIT ["Decimal Degree", 0.01745329251994330]]');

INSERT INTO MDSYS.CS_SRS (CS_NAME, SRID, AUTH_SRID, AUTH_NAME, WKTEXT) VALUES (
  'British National Grid (ORD SURV GB)', 81989, 81989, 'Oracle',
  'PROJCS["British National Grid (ORD SURV GB)", GEOGCS [ "OSGB 36", DATUM ["Ordnance Survey Great Britain 1936", SPHEROID ["Airy", 6377563.396, 299.3249646]], PRIMEM [ "Greenwich", 0.000000 ], UNIT ["Decimal Degree", 0.01745329251994330]], PROJECTION ["Transverse Mercator"], PARAMETER ["Scale_Factor", 0.999601272], PARAMETER ["Central_Meridian", -2.000000], PARAMETER ["Latitude_Of_Origin", 49.000000], PARAMETER ["False_Easting", 400000.000000], PARAMETER ["False_Northing", -100000.000000], UNIT ["Meter", 1.000000000000]]');

INSERT INTO MDSYS.CS_SRS (CS_NAME, SRID, AUTH_SRID, AUTH_NAME, WKTEXT) VALUES (
  'WGS 84', 4326, 4326, 'EPSG',
  'GEOGCS [ "WGS 84", DATUM ["World Geodetic System 1984 (EPSG ID 6326)", SPHEROID ["WGS 84 (EPSG ID 7030)", 6378137.0, 298.257223563]], PRIMEM [ "Greenwich", 0.000000 ], UNIT ["Decimal Degree", 0.01745329251994328]]');

INSERT INTO MDSYS.CS_SRS (CS_NAME, SRID, AUTH_SRID, AUTH_NAME, WKTEXT) VALUES (
  'OSGB 1936 / British National Grid', 27700, 27700, 'EPSG',
  'PROJCS["OSGB 1936 / British National Grid", GEOGCS [ "OSGB 1936", DATUM ["OSGB 1936 (EPSG ID 6277)", SPHEROID ["Airy 1830 (EPSG ID 7001)", 6377563.396, 299.3249646], 446.448, -125.157, 542.06, -.1502, -.247, -.8421, 20.4894], PRIMEM [ "Greenwich", 0.000000 ], UNIT ["Decimal Degree", 0.01745329251994328]], PROJECTION ["Transverse Mercator"], PARAMETER ["Latitude_Of_Origin", 49.0], PARAMETER ["Central_Meridian", -2.0], PARAMETER ["Scale_Factor", 0.9996012717], PARAMETER ["False_Easting", 400000.0], PARAMETER ["False_Northing", -100000.0], UNIT ["Meter", 1.0]]');

INSERT INTO MDSYS.CS_SRS (CS_NAME, SRID, AUTH_SRID, AUTH_NAME, WKTEXT) VALUES (
  'WGS 84 / UTM zone 33N', 32633, 32633, 'EPSG',
  'PROJCS["WGS 84 / UTM zone 33N", GEOGCS [ "WGS 84", DATUM ["World Geodetic System 1984 (EPSG ID 6326)", SPHEROID ["WGS 84 (EPSG ID 7030)", 6378137.0, 298.257223563]], PRIMEM [ "Greenwich", 0.000000 ], UNIT ["Decimal Degree", 0.01745329251994328]], PROJECTION ["Transverse Mercator"], PARAMETER ["Latitude_Of_Origin", 0.0], PARAMETER ["Central_Meridian", 15.0], PARAMETER ["Scale_Factor", 0.9996], PARAMETER ["False_Easting", 500000.0], PARAMETER ["False_Northing", 0.0], UNIT ["Meter", 1.0]]');

COMMIT;
