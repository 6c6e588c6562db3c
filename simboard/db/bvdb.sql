-- Configuration database of the camera (placeholder until the db module).
CREATE TABLE user (id INTEGER PRIMARY KEY, name TEXT NOT NULL);
INSERT INTO user VALUES (1, 'admin');
