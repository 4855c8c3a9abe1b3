"""zp_identify and zp_verify answer what the tool answers over the same rows
of an embedded gallery; a forced parallel scan ranks as a serial one;
damaged rows are refused by name or skipped."""

import sqlite3

import pytest

import zpapi
from conftest import FINGERS, sql_identify, store_rows, tool_identify

# Settings that make the planner scan with parallel workers even for a small
# table (debug_parallel_query was force_parallel_mode before PostgreSQL 16).
PARALLEL = {"parallel_setup_cost": "0", "parallel_tuple_cost": "0", "min_parallel_table_scan_size": "0",
            "max_parallel_workers_per_gather": "2"}
SERIAL = {"max_parallel_workers_per_gather": "0"}


@pytest.fixture(scope="module")
def galleries(db, embedded_gallery):
    """The embedded gallery's rows in the database too."""
    path, probes, rows = embedded_gallery
    with db.cursor() as cur:
        cur.execute("SELECT zp_create_gallery()")
        store_rows(cur, rows)
    return path, probes


SEARCHES = [dict(), dict(top=3, short_list=4), dict(top=8, level=5), dict(level=1, finger="from-probe")]


@pytest.mark.parametrize("search", SEARCHES, ids=["default", "short", "top8-level5", "finger-level1"])
def test_identify_answers_what_the_tool_answers(db, tool, galleries, search):
    path, probes = galleries
    found = 0
    with db.cursor() as cur:
        for subject, (probe, position) in probes.items():
            options = dict(search, finger=position) if search.get("finger") else search
            expected = tool_identify(tool, path, probe, **options)
            assert sql_identify(cur, probe, **options) == expected, subject
            found += expected[0][1] == subject
    assert found > len(probes) / 2  # the searches are not vacuous


def test_verify_answers_what_the_tool_answers(db, tool, galleries):
    path, probes = galleries
    names = list(probes)
    with db.cursor() as cur:
        for i, (subject, (probe, position)) in enumerate(probes.items()):
            claimed = names[(i + i % 2) % len(names)]  # genuine and impostor claims
            for finger in (None, probes[claimed][1]):
                args = ["verify", "--db", path, "--id", claimed, probe] + (["--finger", finger] if finger else [])
                out = tool(*args)
                cur.execute("SELECT * FROM zp_verify(%s, %s, %s, 3)",
                            (claimed, bytes(zpapi.Template.load(probe)), FINGERS.index(finger) if finger else None))
                assert cur.fetchall() == [(claimed, FINGERS.index(out["finger"]), out["slot"], out["score"],
                                           out["match"], out["templates"])], (subject, claimed, finger)
        with pytest.raises(Exception, match="no subject 'nobody'"):
            cur.execute("SELECT * FROM zp_verify('nobody', %s)", (bytes(zpapi.Template.load(probe)),))


def set_all(cur, settings):
    for name, value in settings.items():
        cur.execute(f"SET {name} = {value}")


def test_a_parallel_scan_ranks_as_a_serial_one(db, galleries):
    _, probes = galleries
    with db.cursor() as cur:
        cur.execute("SELECT name FROM pg_settings WHERE name IN ('debug_parallel_query', 'force_parallel_mode')")
        force = cur.fetchone()[0]
        cur.execute("LOAD 'auto_explain'")
        set_all(cur, {"auto_explain.log_min_duration": "0", "auto_explain.log_nested_statements": "on",
                      "auto_explain.log_analyze": "on", "auto_explain.log_level": "notice"})
        answers = {}
        for mode, settings in (("serial", dict(SERIAL, **{force: "off"})), ("parallel", dict(PARALLEL, **{force: "on"}))):
            set_all(cur, settings)
            del db.notices[:]
            answers[mode] = []
            for probe, position in probes.values():
                t = bytes(zpapi.Template.load(probe))
                cur.execute("SELECT * FROM zp_short_list(%s, 0, 60)", (t,))
                answers[mode].append(cur.fetchall())
                cur.execute("SELECT * FROM zp_identify(%s, 10, 0, 3, 0)", (t,))
                answers[mode].append(cur.fetchall())
            launched = sum("Workers Launched: 2" in n or "Workers Launched: 1" in n for n in db.notices)
            assert (launched > 0) == (mode == "parallel"), mode
        cur.execute("RESET ALL")
    assert answers["parallel"] == answers["serial"]
    assert all(answers["serial"])


def test_damaged_rows_are_named_or_skipped_as_the_tool_does(db, tool, galleries, tmp_path):
    path, probes = galleries
    damaged = tmp_path / "damaged.db"
    sqlite3.connect(path).execute(f"VACUUM INTO '{damaged}'")
    victim = next(iter(probes))
    with sqlite3.connect(damaged) as lite:
        lite.execute("UPDATE templates SET checksum = checksum + 1 WHERE subject = ? AND slot = 1", (victim,))
    probe = probes[victim][0]
    with db.cursor() as cur:
        cur.execute("UPDATE zp_templates SET checksum = checksum + 1 WHERE subject = %s AND slot = 1", (victim,))
        try:
            with pytest.raises(Exception, match=f"{victim}/{probes[victim][1]}/1: checksum mismatch"):
                sql_identify(cur, probe)
            assert sql_identify(cur, probe, skip=True) == tool_identify(tool, damaged, probe, skip=True)
            cur.execute("SELECT count(*) FROM zp_short_list(%s, 0, 1000, true) WHERE subject = %s",
                        (bytes(zpapi.Template.load(probe)), victim))
            kept = cur.fetchone()[0]
            cur.execute("SELECT count(*) - 1 FROM zp_templates WHERE subject = %s", (victim,))
            assert kept == cur.fetchone()[0]
        finally:
            cur.execute("UPDATE zp_templates SET checksum = checksum - 1 WHERE subject = %s AND slot = 1", (victim,))


def test_gallery_creation_is_idempotent_and_guards_its_rows(db):
    with db.cursor() as cur:
        cur.execute("SELECT zp_create_gallery(), zp_create_gallery(), zp_gallery_version()")
        assert cur.fetchone() == (1, 1, 1)
        cur.execute("SELECT template FROM zp_templates LIMIT 1")
        good = bytes(cur.fetchone()[0])
        for row, message in ((("x", 11, 0, good), "zp_templates_finger_check"),
                             (("", 1, 0, good), "zp_templates_subject_check"),
                             (("x", 1, 0, b"\x00" * 256), "invalid zptemplate: no template")):
            with pytest.raises(Exception, match=message):
                cur.execute("INSERT INTO zp_templates (subject, finger, slot, quality, template, checksum) "
                            "VALUES (%s, %s, %s, 0, %s, 0)", row)
        cur.execute("SELECT sum(templates) = (SELECT count(*) FROM zp_templates) FROM zp_subjects")
        assert cur.fetchone() == (True,)


def test_a_finger_keeping_many_templates_is_ranked_finger_by_finger(db, galleries):
    """More templates on a finger than zp_max_keep() fill a leaf's best
    templates with one finger: that leaf is ranked again finger by finger."""
    _, probes = galleries
    probe = bytes(zpapi.Template.load(next(iter(probes.values()))[0]))
    with db.cursor() as cur:
        cur.execute("SELECT zp_max_keep()")
        many = 3 * cur.fetchone()[0] + 5  # more than a short list of 3 fingers reads
        cur.execute("INSERT INTO zp_templates (subject, finger, slot, quality, template, checksum) "
                    "SELECT 'many', 0, k, 0, %s, zp_row_checksum('many', 0, %s) FROM generate_series(0, %s) AS k",
                    (probe, probe, many - 1))
        try:
            cur.execute("SELECT quick, subject, finger FROM zp_short_list(%s, 0, 3)", (probe,))
            got = list(dict.fromkeys(cur.fetchall()))
            cur.execute("SELECT max(zp_quick_score(%s, template)) AS quick, subject, finger::integer FROM zp_templates "
                        "GROUP BY subject, finger ORDER BY quick DESC, subject, finger LIMIT 3", (probe,))
            assert got == cur.fetchall()
            assert got[0][1] == "many" and len(got) == 3
        finally:
            cur.execute("DELETE FROM zp_templates WHERE subject = 'many'")


def test_the_first_damaged_row_in_gallery_order_is_named(db, galleries):
    _, probes = galleries
    probe = bytes(zpapi.Template.load(next(iter(probes.values()))[0]))
    with db.cursor() as cur:
        cur.execute("SELECT subject, finger, slot FROM zp_templates ORDER BY subject, finger, slot")
        rows = cur.fetchall()
        first, last = rows[len(rows) // 3], rows[-1]
        cur.execute("SELECT name FROM pg_settings WHERE name IN ('debug_parallel_query', 'force_parallel_mode')")
        set_all(cur, dict(PARALLEL, **{cur.fetchone()[0]: "on"}))
        damage = "UPDATE zp_templates SET checksum = checksum + %s WHERE (subject, finger, slot) IN (%s, %s)"
        cur.execute(damage, (1, first, last))
        try:
            with pytest.raises(Exception, match=f"^{first[0]}/{FINGERS[first[1]]}/{first[2]}: checksum mismatch"):
                cur.execute("SELECT * FROM zp_short_list(%s, 0, 5)", (probe,))
        finally:
            cur.execute(damage, (-1, first, last))
            cur.execute("RESET ALL")
