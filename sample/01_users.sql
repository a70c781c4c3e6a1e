-- Sample database, step 1: the users. Each schema is a file DEMO.db /
-- GISOWNER.db in the database directory; passwords are stored as hashes.
CREATE USER demo IDENTIFIED BY demo;
CREATE USER gisowner IDENTIFIED BY gisowner;
