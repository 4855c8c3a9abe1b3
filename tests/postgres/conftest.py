"""Shared fixtures of the PostgreSQL extension's tests: a connection to the
throw-away cluster that with_cluster.sh started, the zpapi tool, templates
of a real set and of generated fingers, and a check that no backend died."""

import importlib.util
import os
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]

# The Python package's test fixtures: the tool fixture (runs the zpapi tool).
_spec = importlib.util.spec_from_file_location("zpapi_python_fixtures", ROOT / "python" / "tests" / "conftest.py")
_fixtures = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(_fixtures)
tool = _fixtures.tool


def unavailable(message):
    """Skips, or fails where PostgreSQL is required (ZPAPI_REQUIRE_POSTGRES=1)."""
    if os.environ.get("ZPAPI_REQUIRE_POSTGRES") == "1":
        pytest.fail(message + " and ZPAPI_REQUIRE_POSTGRES=1")
    pytest.skip(message)


try:
    import psycopg2
except ImportError:  # pragma: no cover - depends on the machine
    psycopg2 = None

import zpapi  # noqa: E402  (PYTHONPATH: the build's python folder)


def cluster_dsn(index=0):
    name = "ZPAPI_PG_DSN" if index == 0 else f"ZPAPI_PG_DSN_{index}"
    dsn = os.environ.get(name)
    if not dsn:
        unavailable(f"{name} is not set: run under tests/postgres/with_cluster.sh")
    return dsn


def connect(dsn, database=None):
    if psycopg2 is None:
        unavailable("psycopg2 is missing (Debian: python3-psycopg2)")
    if database:
        dsn = dsn.rsplit("/", 1)[0] + "/" + database
    connection = psycopg2.connect(dsn)
    connection.autocommit = True
    return connection


def fresh_database(dsn, name):
    """A new database with the extension (dropped first when left over)."""
    admin = connect(dsn)
    with admin.cursor() as cur:
        cur.execute(f'DROP DATABASE IF EXISTS "{name}" WITH (FORCE)')
        cur.execute(f'CREATE DATABASE "{name}"')
    admin.close()
    connection = connect(dsn, name)
    with connection.cursor() as cur:
        cur.execute("SELECT count(*) FROM pg_available_extensions WHERE name = 'zpapi'")
        if cur.fetchone()[0] == 0:
            pytest.fail("the zpapi extension is not installed in this server: run make postgres")
        cur.execute("CREATE EXTENSION zpapi")
    return connection


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


def load_gallery(cur, rows):
    """Stores (subject, finger, slot, template) rows with their checksums."""
    cur.executemany(
        "INSERT INTO zp_templates (subject, finger, slot, quality, template, checksum) "
        "VALUES (%s, %s, %s, %s, %s, zp_row_checksum(%s, %s, %s))",
        [(s, f, k, t.quality, bytes(t), s, f, bytes(t)) for s, f, k, t in rows],
    )
