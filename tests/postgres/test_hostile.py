"""Hostile bytes: random, truncated, every byte of a valid template changed,
and the fuzz targets' seeds. The domain refuses exactly what the library
refuses, naming the reason; what it accepts scores as in the library; no
backend ever dies (the session fixture reads the server log)."""

import os
import random
from pathlib import Path

import pytest

import zpapi
from zpapi import _zpapi

ROOT = Path(__file__).resolve().parents[2]


def hostile_cases(valid):
    rng = random.Random(14)
    cases = [bytes(rng.getrandbits(8) for _ in range(n)) for n in (0, 1, 255, 257, 1000)]
    cases += [bytes(rng.getrandbits(8) for _ in range(256)) for _ in range(200)]
    cases += [valid[:n] for n in (0, 1, 16, 55, 56, 128, 255)]
    cases.append(valid + b"\x00")
    for position in range(256):
        for change in (lambda b: b ^ 0xFF, lambda b: b ^ 0x01, lambda b: 0x00, lambda b: 0xFF):
            mutated = bytearray(valid)
            mutated[position] = change(mutated[position])
            cases.append(bytes(mutated))
    return cases


def fuzz_seed_cases():
    """Templates in the fuzz seeds (and the committed fuzz regressions)."""
    folders = [ROOT / "tests" / "hardening" / "regressions"]
    if os.environ.get("ZPAPI_PG_FUZZ_SEEDS"):
        folders.append(Path(os.environ["ZPAPI_PG_FUZZ_SEEDS"]))
    cases = []
    for folder in folders:
        for target, offset in (("template_decode", 0), ("match", 0), ("quick_match", 1)):
            for seed in sorted((folder / target).glob("*")) if (folder / target).is_dir() else []:
                data = seed.read_bytes()[offset:]
                cases += [data[:256], data[256:512]] if target != "template_decode" else [data]
    return [c for c in cases if c]


@pytest.fixture(scope="module")
def judged(db, synth_templates):
    """What SQL says of each case: (bytes, rejection, cast error)."""
    valid = bytes(next(iter(synth_templates.values())))
    cases = hostile_cases(valid) + fuzz_seed_cases()
    with db.cursor() as cur:
        cur.execute(
            "CREATE FUNCTION pg_temp.cast_error(b bytea) RETURNS text LANGUAGE plpgsql AS "
            "$$ BEGIN PERFORM b::zptemplate; RETURN NULL; EXCEPTION WHEN OTHERS THEN RETURN SQLERRM; END $$"
        )
        cur.execute("CREATE TEMP TABLE cases (i integer, b bytea)")
        cur.executemany("INSERT INTO cases VALUES (%s, %s)", list(enumerate(cases)))
        cur.execute("SELECT i, zp_template_rejection(b), pg_temp.cast_error(b) FROM cases ORDER BY i")
        return [(cases[i], rejection, error) for i, rejection, error in cur.fetchall()]


def library_rejection(data):
    if len(data) != 256:
        return f"{len(data)} bytes, a template has 256"
    return _zpapi.template_rejection(data) or None


def test_the_domain_refuses_what_the_library_refuses_naming_the_reason(judged):
    refused = 0
    for data, rejection, error in judged:
        assert rejection == library_rejection(data), data.hex()
        if rejection is None:
            assert error is None
        else:
            refused += 1
            assert error == "invalid zptemplate: " + rejection
    assert refused > 200


def test_accepted_hostile_templates_score_as_in_the_library(db, judged, synth_templates):
    probe = next(iter(synth_templates.values()))
    accepted = [data for data, rejection, _ in judged if rejection is None]
    assert len(accepted) > 100
    with db.cursor() as cur:
        cur.execute("CREATE TEMP TABLE accepted (i integer, t zptemplate)")
        cur.executemany("INSERT INTO accepted VALUES (%s, %s)", list(enumerate(accepted)))
        cur.execute(
            "SELECT i, zp_quick_score(%(p)s, t), zp_match_score(%(p)s, t), zp_match_score(t, %(p)s), "
            "zp_quick_score(t, %(p)s), zp_match(t, t, 5) FROM accepted ORDER BY i",
            {"p": bytes(probe)},
        )
        rows = cur.fetchall()
    assert len(rows) == len(accepted)
    for (i, quick, forward, backward, reverse_quick, itself), data in zip(rows, accepted):
        t = zpapi.Template(data)
        assert quick == int(zpapi.QuickMatcher(probe).scores([t], threads=1)[0]), i
        assert reverse_quick == int(zpapi.QuickMatcher(t).scores([probe], threads=1)[0]), i
        assert (forward, backward) == (zpapi.score(probe, t), zpapi.score(t, probe)), i
        assert itself == zpapi.match(t, t, 5), i


@pytest.mark.parametrize(
    "call",
    [
        "zp_match_score(%s, %s)",
        "zp_match(%s, %s, 3)",
        "zp_quick_score(%s, %s)",
        "zp_verify_rows(%s, 3, '{0}', '{0}', ARRAY[%s])",
    ],
)
def test_functions_refuse_hostile_arguments_with_an_error(db, synth_templates, call):
    valid = bytes(next(iter(synth_templates.values())))
    for bad in (b"", valid[:100], b"\x00" * 256, bytes([0xFF]) * 256):
        for args in ((bad, valid), (valid, bad)):
            with db.cursor() as cur, pytest.raises(Exception, match="invalid zptemplate"):
                cur.execute("SELECT " + call % ("%s::bytea", "%s::bytea"), args)
    with db.cursor() as cur:
        cur.execute("SELECT 1")
        assert cur.fetchone() == (1,)


def test_extraction_of_the_fuzz_images_equals_the_library(db):
    """The extract target's seeds (whole images and strips, tiled to a whole image)."""
    import numpy as np

    folder = Path(os.environ.get("ZPAPI_PG_FUZZ_SEEDS", "/nonexistent")) / "extract"
    seeds = sorted(folder.glob("*"))[:6]
    if not seeds:
        pytest.skip("no fuzz seeds (ZPAPI_PG_FUZZ_SEEDS)")
    size = 256 * 384
    with db.cursor() as cur:
        for seed in seeds:
            data = seed.read_bytes()
            image = (data * (size // max(len(data), 1) + 1))[:size]
            try:
                expected = bytes(zpapi.extract(np.frombuffer(image, np.uint8).reshape(384, 256).copy()))
            except zpapi.ExtractionError:
                expected = None
            try:
                cur.execute("SELECT zp_extract(%s)", (image,))
                got = bytes(cur.fetchone()[0])
            except Exception as error:  # noqa: BLE001 - the error's text is checked
                assert "zp_extract: " in str(error)
                got = None
            assert got == expected, seed.name
