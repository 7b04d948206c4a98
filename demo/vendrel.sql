-- The reports database of the demo: production reports with their cycles.
SET SQL DIALECT 3;
SET NAMES UTF8;
CREATE DATABASE '@DIR@vendrel_data.fdb' USER 'SYSDBA' PASSWORD 'plumtrove' DEFAULT CHARACTER SET WIN1250;

CREATE TABLE raporth (
  id     INTEGER NOT NULL PRIMARY KEY,
  toolid INTEGER,
  d_l    NUMERIC(18, 0)
);

INSERT INTO raporth VALUES (1, 501, 800);
INSERT INTO raporth VALUES (2, 501, 650);
INSERT INTO raporth VALUES (3, 502, 1000);
INSERT INTO raporth VALUES (4, 503, 90);
INSERT INTO raporth VALUES (5, 505, 12);
INSERT INTO raporth VALUES (6, 506, 42);
COMMIT;
