"""zp_identify and zp_verify answer what the tool answers over the same rows
of an embedded gallery; a forced parallel scan ranks as a serial one;
damaged rows are refused by name or skipped."""

import sqlite3

import pytest

import zpapi

FINGERS = ["unknown", "right-thumb", "right-index", "right-middle", "right-ring", "right-little",
           "left-thumb", "left-index", "left-middle", "left-ring", "left-little"]

# Settings that make the planner scan with parallel workers even for a small
# table (debug_parallel_query was force_parallel_mode before PostgreSQL 16).
PARALLEL = {"parallel_setup_cost": "0", "parallel_tuple_cost": "0", "min_parallel_table_scan_size": "0",
            "max_parallel_workers_per_gather": "2"}
SERIAL = {"max_parallel_workers_per_gather": "0"}


@pytest.fixture(scope="module")
def galleries(db, tool, real_templates, synth_templates, tmp_path_factory):
    """The same rows in an embedded gallery (enrolled by the tool) and in the
    database; answers the SQLite path and the probes {name: (file, finger)}."""
    folder = tmp_path_factory.mktemp("gallery")
    path = folder / "gallery.db"
    probes = {}

    def enrol(prefix, templates, finger_of):
        fingers = sorted({name.split("_")[0] for name in templates})
        for k, finger in enumerate(fingers):
            files = []
            for name, t in templates.items():
                if name.split("_")[0] == finger:
                    t.save(folder / f"{prefix}{name}.zpt")
                    files.append(folder / f"{prefix}{name}.zpt")
            position = finger_of(k)
            done = tool("enroll", "--db", path, "--id", f"{prefix}{finger}", "--finger", position, "--keep", 4,
                        *files[1:], "--quiet", json_out=False, check=(0, 1, 2))
            if done.returncode == 0:  # a finger whose impressions do not confirm each other is not enrolled
                probes[f"{prefix}{finger}"] = (files[0], position)

    enrol("real-", real_templates, lambda k: FINGERS[1 + k % 10])
    enrol("synth-", synth_templates, lambda k: FINGERS[k % 3])
    tool("populate", "--db", path, "--count", 400, "--seed", 5, "--quiet", json_out=False, check=(0,))
    rows = sqlite3.connect(path).execute(
        "SELECT subject, finger, slot, impression, quality, template, checksum FROM templates").fetchall()
    assert len(probes) > 10 and len(rows) > 420
    with db.cursor() as cur:
        cur.execute("SELECT zp_create_gallery()")
        cur.executemany(
            "INSERT INTO zp_templates (subject, finger, slot, impression, quality, template, checksum) "
            "VALUES (%s, %s, %s, %s, %s, %s, %s)", rows)
        cur.execute("ANALYZE zp_templates")
    return path, probes


def tool_identify(tool, path, probe, top=5, short_list=0, level=3, finger=None, skip=False):
    args = ["identify", "--db", path, probe, "--top", top, "--level", level, "--threads", 1]
    args += ["--short-list", short_list] if short_list else []
    args += ["--finger", finger] if finger else []
    args += ["--skip-damaged"] if skip else []
    out = tool(*args)
    return [(c["rank"], c["subject"], FINGERS.index(c["probes"][0]["finger"]), c["probes"][0]["slot"],
             c["probes"][0]["quick_score"], c["score"], c["match"]) for c in out["candidates"]]


def sql_identify(cur, probe, top=5, short_list=0, level=3, finger=None, skip=False):
    cur.execute("SELECT * FROM zp_identify(%s, %s, %s, %s, %s, %s)",
                (bytes(zpapi.Template.load(probe)), top, short_list, level,
                 FINGERS.index(finger) if finger else 0, skip))
    return cur.fetchall()


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
