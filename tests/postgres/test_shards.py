"""A gallery spread over two shards (three clusters: a coordinator and two
shards, with_cluster.sh --clusters 3): a search through the coordinator
ranks as the same rows in one server and in the embedded gallery, the
matching runs on the shards and only short lists come back."""

import re

import pytest

import pggallery
import zpapi
from conftest import cluster_dsn, fresh_database, sql_identify, store_rows, tool_identify

SEARCHES = [dict(), dict(top=3, short_list=4), dict(top=8, level=5, finger="right-index")]


@pytest.fixture(scope="module")
def servers(embedded_gallery):
    """(coordinator, one server) connections holding the embedded gallery's rows."""
    _, _, rows = embedded_gallery
    shard_dsns = [cluster_dsn(1), cluster_dsn(2)]
    shards = [fresh_database(dsn, "zpapi_shard") for dsn in shard_dsns]
    coordinator = fresh_database(cluster_dsn(), "zpapi_coordinator")
    pggallery.spread(coordinator, shards, [dsn.rsplit("/", 1)[0] + "/zpapi_shard" for dsn in shard_dsns])
    single = fresh_database(cluster_dsn(), "zpapi_single")
    for connection in (coordinator, single):
        with connection.cursor() as cur:
            cur.execute("SELECT zp_create_gallery()")
            store_rows(cur, rows)
    for shard in shards:  # each shard holds a part of the rows
        with shard.cursor() as cur:
            cur.execute("SELECT count(*) FROM zp_templates")
            assert 0 < cur.fetchone()[0] < len(rows)
    yield coordinator, single
    for connection in shards + [coordinator, single]:
        connection.close()


@pytest.mark.parametrize("search", SEARCHES, ids=["default", "short", "top8-level5-finger"])
def test_a_search_through_the_coordinator_ranks_as_one_server_and_the_embedded_gallery(
        tool, embedded_gallery, servers, search):
    path, probes, _ = embedded_gallery
    coordinator, single = servers
    with coordinator.cursor() as spread, single.cursor() as alone:
        for subject, (probe, _) in probes.items():
            expected = tool_identify(tool, path, probe, **search)
            assert sql_identify(spread, probe, **search) == expected, subject
            assert sql_identify(alone, probe, **search) == expected, subject
            t = bytes(zpapi.Template.load(probe))
            lists = []
            for cur in (spread, alone):
                cur.execute("SELECT * FROM zp_short_list(%s, 0, 20)", (t,))
                lists.append(cur.fetchall())
            assert lists[0] == lists[1], subject


def test_verify_through_the_coordinator_answers_as_one_server(embedded_gallery, servers):
    _, probes, _ = embedded_gallery
    coordinator, single = servers
    names = list(probes)
    with coordinator.cursor() as spread, single.cursor() as alone:
        for i, (probe, _) in enumerate(probes.values()):
            t = bytes(zpapi.Template.load(probe))
            answers = []
            for cur in (spread, alone):
                cur.execute("SELECT * FROM zp_verify(%s, %s)", (names[(i + i % 2) % len(names)], t))
                answers.append(cur.fetchall())
            assert answers[0] == answers[1]


def test_the_shards_match_and_send_only_their_short_lists(embedded_gallery, servers):
    _, probes, _ = embedded_gallery
    coordinator, _ = servers
    probe = bytes(zpapi.Template.load(next(iter(probes.values()))[0]))
    with coordinator.cursor() as cur:
        cur.execute("LOAD 'auto_explain'")
        for setting in ("log_min_duration = 0", "log_nested_statements = on", "log_verbose = on",
                        "log_analyze = on", "log_level = notice"):
            cur.execute("SET auto_explain." + setting)
        del coordinator.notices[:]
        cur.execute("SELECT * FROM zp_short_list(%s, 0, 7)", (probe,))
        assert len({row[:2] for row in cur.fetchall()}) == 7
        cur.execute("RESET ALL")
    plans = "\n".join(coordinator.notices)
    remote = re.findall(r"Remote SQL: (.*)", plans)
    ranking = [sql for sql in remote if "zp_quick_score" in sql]
    # One query per shard: quick scores, grouping, ordering and the limit all remote.
    assert len(ranking) == 2, plans
    for sql in ranking:
        assert re.search(r"GROUP BY .* ORDER BY .* LIMIT 7", sql), sql
    # The short-listed fingers' templates come by subject, from both shards at once.
    fetching = [sql for sql in remote if "= ANY (" in sql]
    assert len(fetching) == 2, plans
    assert plans.count("Async Foreign Scan") >= 4, plans
    # Rows crossing: at most 7 fingers per shard, then the short list's templates.
    counts = [int(n) for n in re.findall(r"Async Foreign Scan.*actual time=\S+ rows=(\d+)", plans)]
    assert counts and max(counts) <= 7 * 4, plans


def test_a_damaged_row_on_a_shard_is_named_through_the_coordinator(embedded_gallery, servers):
    _, probes, rows = embedded_gallery
    coordinator, _ = servers
    probe = bytes(zpapi.Template.load(next(iter(probes.values()))[0]))
    first = min(row[:3] for row in rows)
    damage = "UPDATE zp_templates SET checksum = checksum + %s WHERE (subject, finger, slot) = %s"
    with coordinator.cursor() as cur:
        cur.execute(damage, (1, first))
        try:
            with pytest.raises(Exception, match=f"^{first[0]}/.*/{first[2]}: checksum mismatch"):
                cur.execute("SELECT * FROM zp_identify(%s)", (probe,))
            cur.execute("SELECT count(*) FROM zp_identify(%s, skip_damaged => true)", (probe,))
            assert cur.fetchone()[0] == 5
        finally:
            cur.execute(damage, (-1, first))
