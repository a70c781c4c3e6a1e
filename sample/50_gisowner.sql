-- Sample database, step 7: the second owner, whose tables demo reaches as
-- GISOWNER.RIVERS and GISOWNER.LAKES (granted to demo); GISOWNER.SURVEY_MARKERS
-- is not granted, so demo neither sees nor reads it.
ALTER SESSION SET CURRENT_SCHEMA = gisowner;

CREATE TABLE rivers (
  river_id    NUMBER(6),
  name        VARCHAR2(40),
  length_km   NUMBER(7,1),
  geom        SDO_GEOMETRY
);
INSERT INTO rivers VALUES (1, 'Wisła', 1047,
  SDO_GEOMETRY(2002, 8307, NULL, SDO_ELEM_INFO_ARRAY(1,2,1),
    SDO_ORDINATE_ARRAY(18.9, 49.6, 19.9, 50.05, 21.0, 52.25, 18.7, 54.35)));
INSERT INTO rivers VALUES (2, 'Rhein (Alpenrhein and Hochrhein)', 1233,
  SDO_GEOMETRY(2006, 8307, NULL, SDO_ELEM_INFO_ARRAY(1,2,1, 5,2,1),
    SDO_ORDINATE_ARRAY(9.5, 46.7, 9.6, 47.5, 8.8, 47.6, 7.6, 47.56)));

CREATE TABLE lakes (
  lake_id   NUMBER(6),
  name      VARCHAR2(40),
  area_km2  NUMBER(8,2),
  geom      SDO_GEOMETRY
);
INSERT INTO lakes VALUES (1, 'Zürichsee', 88.17,
  SDO_GEOMETRY(2003, 8307, NULL, SDO_ELEM_INFO_ARRAY(1,1003,1, 11,2003,1),
    SDO_ORDINATE_ARRAY(8.54, 47.36, 8.85, 47.2, 8.9, 47.22, 8.56, 47.37, 8.54, 47.36,
                       8.705, 47.288, 8.71, 47.292, 8.715, 47.288, 8.71, 47.284, 8.705, 47.288)));

INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('RIVERS', 'GEOM',
  SDO_DIM_ARRAY(SDO_DIM_ELEMENT('Longitude', -180, 180, 0.05), SDO_DIM_ELEMENT('Latitude', -90, 90, 0.05)), 8307);
INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('LAKES', 'GEOM',
  SDO_DIM_ARRAY(SDO_DIM_ELEMENT('Longitude', -180, 180, 0.05), SDO_DIM_ELEMENT('Latitude', -90, 90, 0.05)), 8307);

CREATE TABLE survey_markers (
  marker_id  NUMBER(6),
  label      VARCHAR2(20),
  geom       SDO_GEOMETRY
);
INSERT INTO survey_markers VALUES (1, 'TP Uetliberg',
  SDO_GEOMETRY(2001, 8307, SDO_POINT_TYPE(8.4914, 47.3494, NULL), NULL, NULL));
INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('SURVEY_MARKERS', 'GEOM',
  SDO_DIM_ARRAY(SDO_DIM_ELEMENT('Longitude', -180, 180, 0.05), SDO_DIM_ELEMENT('Latitude', -90, 90, 0.05)), 8307);

-- demo reads the rivers and lakes, not the survey markers
GRANT SELECT ON gisowner.rivers TO demo;
GRANT SELECT ON gisowner.lakes TO demo;

COMMIT;
