-- Configuration database of the camera: accounts, network, streams, audio,
-- on-screen display, system settings and PTZ presets.
BEGIN;

CREATE TABLE user (
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL UNIQUE,
    role TEXT NOT NULL,
    enabled INTEGER NOT NULL DEFAULT 1,
    password TEXT
);
INSERT INTO user VALUES (1, 'admin', 'admin', 1, 'c7ad44cbad762a5da0a452f9e854fdc1');
INSERT INTO user VALUES (2, 'operator', 'operator', 1, '2b7e151628aed2a6abf7158809cf4f3c');
INSERT INTO user VALUES (3, 'guest', 'viewer', 0, NULL);

CREATE TABLE network (
    iface TEXT PRIMARY KEY,
    dhcp INTEGER NOT NULL,
    ip TEXT,
    netmask TEXT,
    gateway TEXT,
    dns TEXT,
    mac TEXT
);
INSERT INTO network VALUES ('eth0', 0, '192.168.1.64', '255.255.255.0', '192.168.1.1',
                            '192.168.1.1', '00:1a:2b:3c:4d:5e');
INSERT INTO network VALUES ('wlan0', 1, NULL, NULL, NULL, NULL, '00:1a:2b:3c:4d:5f');

CREATE TABLE video (
    channel INTEGER NOT NULL,
    stream TEXT NOT NULL,
    codec TEXT NOT NULL,
    width INTEGER,
    height INTEGER,
    fps INTEGER,
    bitrate INTEGER,
    gop INTEGER,
    PRIMARY KEY (channel, stream)
);
INSERT INTO video VALUES (0, 'main', 'H.265', 2560, 1440, 25, 4096, 50);
INSERT INTO video VALUES (0, 'sub', 'H.264', 640, 360, 15, 512, 30);
INSERT INTO video VALUES (0, 'mjpeg', 'MJPEG', 1280, 720, 5, 2048, 1);

CREATE TABLE audio (
    channel INTEGER PRIMARY KEY,
    codec TEXT NOT NULL,
    sample_rate INTEGER,
    volume INTEGER,
    enabled INTEGER NOT NULL
);
INSERT INTO audio VALUES (0, 'G.711A', 8000, 80, 1);

CREATE TABLE osd (
    id INTEGER PRIMARY KEY,
    text TEXT,
    x INTEGER,
    y INTEGER,
    enabled INTEGER NOT NULL
);
INSERT INTO osd VALUES (1, 'Front Door', 16, 16, 1);
INSERT INTO osd VALUES (2, '%Y-%m-%d %H:%M:%S', 16, 680, 1);

CREATE TABLE system (
    key TEXT PRIMARY KEY,
    value TEXT
);
INSERT INTO system VALUES ('device_name', 'IPC-Front');
INSERT INTO system VALUES ('timezone', 'UTC+01:00');
INSERT INTO system VALUES ('ntp_server', 'pool.ntp.org');
INSERT INTO system VALUES ('ntp_interval', '3600');
INSERT INTO system VALUES ('language', 'en');

CREATE TABLE ptz_preset (
    id INTEGER PRIMARY KEY,
    name TEXT,
    pan INTEGER,
    tilt INTEGER,
    zoom INTEGER
);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 32)
INSERT INTO ptz_preset SELECT i, printf('preset %02d', i), (i * 1125) % 36000, (i * 300) % 9000, 1 + i % 4
FROM n;

COMMIT;
