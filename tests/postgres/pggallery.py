"""Databases with the extension, and a gallery spread over shards with
postgres_fdw as docs/postgres.md sets it up (each shard holds a gallery of
its own; the coordinator's gallery is partitioned by subject over one
foreign partition per shard). Shared by the tests and the benchmark."""

from urllib.parse import urlparse

import psycopg2  # Debian: python3-psycopg2


def connect(dsn, database=None):
    """An autocommit connection to dsn, or to another database of its server."""
    if database:
        dsn = dsn.rsplit("/", 1)[0] + "/" + database
    connection = psycopg2.connect(dsn)
    connection.autocommit = True
    return connection


def fresh_database(dsn, name):
    """A new database (dropped first when left over) with the extension."""
    admin = connect(dsn)
    with admin.cursor() as cur:
        cur.execute(f'DROP DATABASE IF EXISTS "{name}" WITH (FORCE)')
        cur.execute(f'CREATE DATABASE "{name}"')
    admin.close()
    connection = connect(dsn, name)
    with connection.cursor() as cur:
        cur.execute("SELECT count(*) FROM pg_available_extensions WHERE name = 'zpapi'")
        if cur.fetchone()[0] == 0:
            raise RuntimeError("the zpapi extension is not installed in this server: run make postgres")
        cur.execute("CREATE EXTENSION zpapi")
    return connection


def shard_server_sql(name, dsn, fetch_size=1000):
    """The foreign server of a shard (its DSN: postgresql://user@host:port/db)
    with the extension shipped, asynchronous scans, and the user mapping."""
    url = urlparse(dsn)
    return [
        f"CREATE SERVER {name} FOREIGN DATA WRAPPER postgres_fdw OPTIONS ("
        f"host '{url.hostname}', port '{url.port}', dbname '{url.path.lstrip('/')}', "
        f"extensions 'zpapi', async_capable 'true', fetch_size '{fetch_size}', batch_size '1000')",
        f"CREATE USER MAPPING FOR CURRENT_USER SERVER {name} OPTIONS (user '{url.username}')",
    ]


def spread(coordinator, shard_connections, shard_dsns):
    """Makes each shard's gallery and the coordinator's partitioned one;
    answers the shard server names."""
    for connection in shard_connections:
        with connection.cursor() as cur:
            cur.execute("CREATE EXTENSION IF NOT EXISTS zpapi")
            cur.execute("SELECT zp_create_gallery()")
    names = [f"shard{i + 1}" for i in range(len(shard_dsns))]
    with coordinator.cursor() as cur:
        cur.execute("CREATE EXTENSION IF NOT EXISTS zpapi")
        cur.execute("CREATE EXTENSION IF NOT EXISTS postgres_fdw")
        for name, dsn in zip(names, shard_dsns):
            for statement in shard_server_sql(name, dsn):
                cur.execute(statement)
        cur.execute("SELECT zp_create_gallery(%s)", (names,))
    return names
