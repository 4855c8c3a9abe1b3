"""A gallery spread over shards with postgres_fdw, as docs/postgres.md sets
it up: each shard holds a gallery of its own; the coordinator's gallery is
partitioned by subject over one foreign partition per shard. Used by the
shard test and by the benchmark."""

from urllib.parse import urlparse


def shard_server_sql(name, dsn, fetch_size=1000):
    """The foreign server of a shard (its DSN: postgresql://user@host:port/db)
    with the extension shipped, asynchronous scans, and the user mapping."""
    url = urlparse(dsn)
    return [
        f"CREATE SERVER {name} FOREIGN DATA WRAPPER postgres_fdw OPTIONS ("
        f"host '{url.hostname}', port '{url.port}', dbname '{url.path.lstrip('/')}', "
        f"extensions 'zpapi', async_capable 'true', fetch_size '{fetch_size}')",
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
