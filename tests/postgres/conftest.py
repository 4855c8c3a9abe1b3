"""Shared fixtures of the PostgreSQL extension's tests: a connection to the
throw-away cluster that with_cluster.sh started, the zpapi tool, templates
of a real set and of generated fingers, and a check that no backend died."""

import os
import runpy
import sqlite3
from pathlib import Path

import pytest

import zpapi

ROOT = Path(__file__).resolve().parents[2]

# The Python package's test fixtures: the tool fixture (runs the zpapi tool).
tool = runpy.run_path(str(ROOT / "python" / "tests" / "conftest.py"))["tool"]


def unavailable(message):
    """Skips, or fails where PostgreSQL is required (ZPAPI_REQUIRE_POSTGRES=1)."""
    if os.environ.get("ZPAPI_REQUIRE_POSTGRES") == "1":
        pytest.fail(message + " and ZPAPI_REQUIRE_POSTGRES=1")
    pytest.skip(message)


try:
    import pggallery
except ImportError:  # pragma: no cover - psycopg2 missing on the machine
    pggallery = None


def cluster_dsn(index=0):
    name = "ZPAPI_PG_DSN" if index == 0 else f"ZPAPI_PG_DSN_{index}"
    dsn = os.environ.get(name)
    if not dsn:
        unavailable(f"{name} is not set: run under tests/postgres/with_cluster.sh")
    return dsn


def fresh_database(dsn, name):
    """A new database with the extension."""
    if pggallery is None:
        unavailable("psycopg2 is missing (Debian: python3-psycopg2)")
    try:
        return pggallery.fresh_database(dsn, name)
    except RuntimeError as error:
        pytest.fail(str(error))


@pytest.fixture(scope="module")
def db(request):
    """A connection to a database of its own per test module, with the extension."""
    connection = fresh_database(cluster_dsn(), "zpapi_" + request.module.__name__.replace("test_", ""))
    yield connection
    connection.close()


def server_log_clean(log_variable="ZPAPI_PG_LOG"):
    log = os.environ.get(log_variable)
    if not log or not os.path.exists(log):
        return
    text = Path(log).read_text(errors="replace")
    for bad in ("terminated by signal", "was terminated", "PANIC"):
        assert bad not in text, f"the server log {log} says '{bad}'"


@pytest.fixture(scope="session", autouse=True)
def no_backend_died():
    """After every test: no backend of any cluster crashed."""
    yield
    for variable in [v for v in os.environ if v.startswith("ZPAPI_PG_LOG")]:
        server_log_clean(variable)


def extracted(tool, images, out):
    """Templates of images by the tool: {file stem: Template}."""
    out.mkdir(parents=True, exist_ok=True)
    tool("extract", *images, "-o", out, "--quiet", json_out=False)
    return {p.stem: zpapi.Template.load(p) for p in sorted(out.glob("*.zpt"))}


@pytest.fixture(scope="session")
def real_templates(tool, tmp_path_factory):
    """The 80 templates of one real set (10 fingers x 8 impressions), by name FFF_I."""
    data = Path(os.environ.get("ZPAPI_DATA_DIR") or ROOT.parent / "shared" / "data")
    folder = data / "fvc2000_db2_b"
    if not (folder / "101_1.tif").exists():
        message = f"real fingerprint sets not found ({data})"
        if os.environ.get("ZPAPI_REQUIRE_DATA") == "1":
            pytest.fail(message + " and ZPAPI_REQUIRE_DATA=1")
        pytest.skip(message)
    return extracted(tool, sorted(folder.glob("*.tif")), tmp_path_factory.mktemp("real"))


@pytest.fixture(scope="session")
def synth_folder(tool, tmp_path_factory):
    out = tmp_path_factory.mktemp("synth")
    tool("synth", "--fingers", 6, "--impressions", 4, "--seed", 11, "-o", out, "--quiet", json_out=False, check=(0,))
    return out


@pytest.fixture(scope="session")
def synth_templates(tool, synth_folder, tmp_path_factory):
    """Templates of 6 generated fingers x 4 impressions, by name FFF_I."""
    return extracted(tool, sorted(synth_folder.glob("*.png")), tmp_path_factory.mktemp("synth_zpt"))


FINGERS = ["unknown", "right-thumb", "right-index", "right-middle", "right-ring", "right-little",
           "left-thumb", "left-index", "left-middle", "left-ring", "left-little"]


@pytest.fixture(scope="session")
def embedded_gallery(tool, real_templates, synth_templates, tmp_path_factory):
    """An embedded gallery enrolled by the tool: real fingers at known
    positions, generated ones, random filler. Answers its path, the probes
    {subject: (template file, finger)} (an impression left out of each
    enrolled finger) and its rows as stored."""
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
    return path, probes, rows


def store_rows(cur, rows):
    """Stores an embedded gallery's rows as they are (checksums included)."""
    cur.executemany(
        "INSERT INTO zp_templates (subject, finger, slot, impression, quality, template, checksum) "
        "VALUES (%s, %s, %s, %s, %s, %s, %s)", rows)
    cur.execute("ANALYZE zp_templates")


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
