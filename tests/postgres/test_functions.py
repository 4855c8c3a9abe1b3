"""The SQL functions answer what the library answers: every comparison of a
real set and of a generated set (score, the five levels, quick score), the
decoded header and minutiae, and extraction."""

import numpy as np
import pytest

import zpapi

LEVELS = (1, 2, 3, 4, 5)


@pytest.fixture(params=["real", "synth"])
def templates(request):
    return request.getfixturevalue(f"{request.param}_templates")


def sql_pairs(cur, templates):
    """Every ordered pair through SQL: {(i, j): (score, quick, match at levels 1..5)}."""
    cur.execute("CREATE TEMP TABLE IF NOT EXISTS probes (i integer, t zptemplate)")
    cur.execute("TRUNCATE probes")
    cur.executemany("INSERT INTO probes VALUES (%s, %s)", [(i, bytes(t)) for i, t in enumerate(templates)])
    cur.execute(
        "SELECT a.i, b.i, zp_match_score(a.t, b.t), zp_quick_score(a.t, b.t), "
        + ", ".join(f"zp_match(a.t, b.t, {level})" for level in LEVELS)
        + " FROM probes a CROSS JOIN probes b"
    )
    return {(row[0], row[1]): tuple(row[2:]) for row in cur.fetchall()}


def test_every_comparison_of_a_set_equals_the_library(db, templates):
    listed = list(templates.values())
    with db.cursor() as cur:
        got = sql_pairs(cur, listed)
    assert len(got) == len(listed) ** 2
    array = np.frombuffer(b"".join(bytes(t) for t in listed), np.uint8).reshape(len(listed), 256)
    for i, probe in enumerate(listed):
        quick = zpapi.QuickMatcher(probe).scores(array, threads=1)
        for j, candidate in enumerate(listed):
            score = zpapi.score(probe, candidate)
            expected = (score, int(quick[j])) + tuple(zpapi.match(probe, candidate, level) for level in LEVELS)
            assert got[(i, j)] == expected, f"pair {i}, {j}"


def test_template_info_and_minutiae_decode_the_template(db, synth_templates):
    with db.cursor() as cur:
        for name, t in list(synth_templates.items())[:6]:
            cur.execute("SELECT minutiae, quality, yield FROM zp_template_info(%s)", (bytes(t),))
            minutiae, quality, yield_ = cur.fetchone()
            assert (quality, yield_) == (t.quality, t.yield_), name
            cur.execute("SELECT x, y, direction, type FROM zp_minutiae(%s) ORDER BY index", (bytes(t),))
            rows = cur.fetchall()
            decoded = t.minutiae
            assert minutiae == len(decoded) == len(rows), name
            for row, m in zip(rows, decoded):
                assert row[:3] == (int(m["x"]), int(m["y"]), int(m["direction"])), name


def test_extraction_equals_the_library(db, synth_folder):
    with db.cursor() as cur:
        for png in sorted(synth_folder.glob("*.png"))[:3]:
            image, _ = zpapi.load_image(png)
            cur.execute("SELECT zp_extract(%s)", (image.tobytes(),))
            assert bytes(cur.fetchone()[0]) == bytes(zpapi.extract(image)), png.name
        with pytest.raises(Exception, match="raw 8-bit image"):
            cur.execute("SELECT zp_extract('\\x00'::bytea)")


def test_row_checksum_is_the_gallery_checksum(db, tool, tmp_path):
    """The checksum SQL computes is the one the embedded gallery stores."""
    import sqlite3

    gallery = tmp_path / "g.db"
    tool("populate", "--db", gallery, "--count", 20, "--seed", 3, "--quiet", json_out=False, check=(0,))
    rows = sqlite3.connect(gallery).execute("SELECT subject, finger, template, checksum FROM templates").fetchall()
    assert len(rows) == 20
    with db.cursor() as cur:
        for subject, finger, template, checksum in rows:
            cur.execute("SELECT zp_row_checksum(%s, %s, %s)", (subject, finger, template))
            assert cur.fetchone()[0] == checksum
