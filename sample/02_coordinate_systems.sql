-- Sample database, step 2: the coordinate systems the sample tables use, in
-- the catalogue MDSYS.CS_SRS (the .prj text tarvex writes with -p).
INSERT INTO MDSYS.CS_SRS (CS_NAME, SRID, AUTH_SRID, AUTH_NAME, WKTEXT) VALUES (
  'Longitude / Latitude (WGS 84)', 8307, 8307, 'Oracle',
  'GEOGCS [ "Longitude / Latitude (WGS 84)", DATUM ["WGS 84", SPHEROID ["WGS 84", 6378137, 298.257223563]], PRIMEM [ "Greenwich", 0.000000 ], UNIT ["Decimal Degree", 0.01745329251994328]]');

INSERT INTO MDSYS.CS_SRS (CS_NAME, SRID, AUTH_SRID, AUTH_NAME, WKTEXT) VALUES (
  'WGS 84', 4326, 4326, 'EPSG',
  'GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,298.257223563]],PRIMEM["Greenwich",0],UNIT["degree",0.0174532925199433]]');

INSERT INTO MDSYS.CS_SRS (CS_NAME, SRID, AUTH_SRID, AUTH_NAME, WKTEXT) VALUES (
  'OSGB 1936 / British National Grid', 27700, 27700, 'EPSG',
  'PROJCS["OSGB 1936 / British National Grid",GEOGCS["OSGB 1936",DATUM["OSGB_1936",SPHEROID["Airy 1830",6377563.396,299.3249646]],PRIMEM["Greenwich",0],UNIT["degree",0.0174532925199433]],PROJECTION["Transverse_Mercator"],PARAMETER["latitude_of_origin",49],PARAMETER["central_meridian",-2],PARAMETER["scale_factor",0.9996012717],PARAMETER["false_easting",400000],PARAMETER["false_northing",-100000],UNIT["metre",1]]');

INSERT INTO MDSYS.CS_SRS (CS_NAME, SRID, AUTH_SRID, AUTH_NAME, WKTEXT) VALUES (
  'WGS 84 / UTM zone 33N', 32633, 32633, 'EPSG',
  'PROJCS["WGS 84 / UTM zone 33N",GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,298.257223563]],PRIMEM["Greenwich",0],UNIT["degree",0.0174532925199433]],PROJECTION["Transverse_Mercator"],PARAMETER["latitude_of_origin",0],PARAMETER["central_meridian",15],PARAMETER["scale_factor",0.9996],PARAMETER["false_easting",500000],PARAMETER["false_northing",0],UNIT["metre",1]]');

COMMIT;
