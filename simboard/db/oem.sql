-- OEM database of the camera: vendor and model data written at the factory.
BEGIN;

CREATE TABLE oem_info (
    key TEXT PRIMARY KEY,
    value TEXT
);
INSERT INTO oem_info VALUES ('vendor', 'Example Vision');
INSERT INTO oem_info VALUES ('model', 'EV-IPC4210');
INSERT INTO oem_info VALUES ('hardware', 'V1.3');
INSERT INTO oem_info VALUES ('serial', 'EV4210-2024-000123');
INSERT INTO oem_info VALUES ('web_title', 'Network Camera');

CREATE TABLE model (
    model TEXT PRIMARY KEY,
    sensor TEXT,
    lens TEXT,
    max_width INTEGER,
    max_height INTEGER,
    ir_leds INTEGER
);
INSERT INTO model VALUES ('EV-IPC4210', 'IMX335', '2.8-12mm', 2560, 1440, 4);

CREATE TABLE feature (
    name TEXT PRIMARY KEY,
    enabled INTEGER NOT NULL
);
INSERT INTO feature VALUES ('audio', 1);
INSERT INTO feature VALUES ('ptz', 1);
INSERT INTO feature VALUES ('wifi', 1);
INSERT INTO feature VALUES ('sdcard', 1);
INSERT INTO feature VALUES ('alarm_io', 0);

COMMIT;
