-- Sample database, step 4: a point table of the demo schema with the column
-- types beyond the classic ones.
ALTER SESSION SET CURRENT_SCHEMA = demo;

-- Large identifiers, national text, CLOB and NCLOB, BINARY_FLOAT and
-- BINARY_DOUBLE, TIMESTAMP WITH LOCAL TIME ZONE.
CREATE TABLE instrument_readings (
  reading_id   NUMBER(18) NOT NULL,
  serial_no    NUMBER(38),
  label        NVARCHAR2(12),
  station_code VARCHAR2(6 CHAR),
  note         CLOB,
  note_local   NCLOB,
  level_f      BINARY_FLOAT,
  level_d      BINARY_DOUBLE,
  taken_at     TIMESTAMP WITH LOCAL TIME ZONE,
  geom         SDO_GEOMETRY
);
INSERT INTO instrument_readings VALUES (123456789012345678, 9007199254740993, 'Pegel Zürich', 'ZH-01',
  'Lake level gauge at the outflow of the Limmat.', 'Seepegel beim Bürkliplatz',
  0.1, 406.0425, TIMESTAMP '2024-03-01 08:15:00.250',
  SDO_GEOMETRY(2001, 8307, SDO_POINT_TYPE(8.541, 47.366, NULL), NULL, NULL));
INSERT INTO instrument_readings VALUES (-999999999999999999, 2147483648, '東京水位', '東京',
  'Tide gauge.', '潮位計', -1.5e-7, 1.23456789012345e37, TIMESTAMP '2023-12-31 23:59:59',
  SDO_GEOMETRY(2001, 8307, SDO_POINT_TYPE(139.77, 35.65, NULL), NULL, NULL));
INSERT INTO instrument_readings VALUES (3, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
  SDO_GEOMETRY(2001, 8307, SDO_POINT_TYPE(0, 0, NULL), NULL, NULL));

INSERT INTO USER_SDO_GEOM_METADATA (TABLE_NAME, COLUMN_NAME, DIMINFO, SRID) VALUES ('INSTRUMENT_READINGS', 'GEOM',
  SDO_DIM_ARRAY(SDO_DIM_ELEMENT('Longitude', -180, 180, 0.05), SDO_DIM_ELEMENT('Latitude', -90, 90, 0.05)), 8307);

COMMIT;
