-- OEM database of the camera (placeholder until the db module).
CREATE TABLE oem (key TEXT PRIMARY KEY, value TEXT);
INSERT INTO oem VALUES ('vendor', 'camera');
