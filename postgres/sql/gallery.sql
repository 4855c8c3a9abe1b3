-- The gallery: its table, identify and verify over it, damaged rows.
\set VERBOSITY terse
SELECT zp_gallery_version();
SELECT zp_create_gallery();
SELECT zp_create_gallery();
SELECT zp_gallery_version();
SELECT * FROM zp_identify((SELECT t FROM samples WHERE name = '101_1'));

-- Finger 1 of each generated finger is the probe; the other is enrolled
-- as the right index of a subject; filler subjects hold the probes
-- themselves at other positions.
INSERT INTO zp_templates (subject, finger, slot, quality, template, checksum)
SELECT 'person-' || left(name, 3), 2, 0, (zp_template_info(t)).quality, t, zp_row_checksum('person-' || left(name, 3), 2, t)
FROM samples WHERE name LIKE '%\_2';
INSERT INTO zp_templates (subject, finger, slot, quality, template, checksum)
SELECT 'other-' || name, 7, 0, 0, t, zp_row_checksum('other-' || name, 7, t) FROM samples WHERE name LIKE '%\_1';
SELECT subject, fingers, templates FROM zp_subjects ORDER BY subject;

SELECT * FROM zp_identify((SELECT t FROM samples WHERE name = '101_1'));
SELECT * FROM zp_identify((SELECT t FROM samples WHERE name = '101_1'), top => 1, probe_finger => 2);
SELECT subject, finger, quick, slot FROM zp_short_list((SELECT t FROM samples WHERE name = '102_1'), 2, 1);
SELECT * FROM zp_verify('person-101', (SELECT t FROM samples WHERE name = '101_1'));
SELECT * FROM zp_verify('person-101', (SELECT t FROM samples WHERE name = '102_1'), 2, 1);
SELECT * FROM zp_verify('person-101', (SELECT t FROM samples WHERE name = '101_1'), 3);
SELECT * FROM zp_verify('nobody', (SELECT t FROM samples WHERE name = '101_1'));
SELECT * FROM zp_short_list((SELECT t FROM samples WHERE name = '101_1'), 11, 5);

-- A damaged row is named, or skipped when asked.
UPDATE zp_templates SET checksum = checksum + 1 WHERE subject = 'person-102';
SELECT * FROM zp_identify((SELECT t FROM samples WHERE name = '102_1'));
SELECT * FROM zp_identify((SELECT t FROM samples WHERE name = '102_1'), skip_damaged => true);
SELECT * FROM zp_verify('person-102', (SELECT t FROM samples WHERE name = '102_1'));

-- The gallery refuses rows the extension would not search.
INSERT INTO zp_templates (subject, finger, slot, quality, template, checksum)
VALUES ('x', 1, 0, 0, '\x00', 0);
INSERT INTO zp_templates (subject, finger, slot, quality, template, checksum)
SELECT 'x', 11, 0, 0, t, 0 FROM samples LIMIT 1;
