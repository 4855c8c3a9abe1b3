"""A gallery filled from Python answers as one filled by the tool, and the
tool reads what Python wrote."""

import shutil

import pytest

import zpapi

FINGERS = (101, 102, 103, 104)


def _comparable(listing):
    """list --json entries without the enrolment times."""
    return [{k: v for k, v in e.items() if k not in ("enrolled_at", "template")} for e in listing["entries"]]


@pytest.fixture(scope="module")
def galleries(synth_set, tool, tmp_path_factory):
    """The same enrolments through Python and through the tool."""
    out = tmp_path_factory.mktemp("galleries")
    ours, theirs = out / "python.db", out / "tool.db"
    gallery = zpapi.Gallery(ours)
    results = {}
    for i, f in enumerate(FINGERS):
        images = [str(synth_set / f"{f}_{k}.png") for k in (1, 2, 3)]
        finger = "right-index" if i % 2 else "unknown"
        results[f] = gallery.enrol(f"s{f}", images, finger=finger)
        answer = tool("enroll", "--db", theirs, "--id", f"s{f}", "--finger", finger, *images)
        assert results[f]["enrolled"] == answer["enrolled"]
        assert results[f]["impressions"] == [
            {"image": x["image"], "outcome": x["outcome"], "score": x.get("score"), "slot": x.get("slot"),
             "windows": x.get("windows"), "reason": x["reason"]} for x in answer["impressions"]]
    return gallery, ours, theirs, results


def test_enrolment_equals_the_tools(galleries, tool):
    gallery, ours, theirs, results = galleries
    assert any(r["enrolled"] for r in results.values())
    mine = gallery.list()
    assert _comparable(mine) == _comparable(tool("list", "--db", theirs))
    # The tool reads the gallery Python wrote, row for row.
    assert _comparable(tool("list", "--db", ours)) == _comparable(mine)
    assert mine["templates"] == len(mine["entries"])


def test_identify_and_verify_equal_the_tools(galleries, synth_set, tool):
    gallery, ours, theirs, results = galleries
    for f in FINGERS:
        probe = synth_set / f"{f}_4.png"
        mine = gallery.identify(probe, top=3)
        answer = tool("identify", "--db", theirs, probe, "--top", 3)
        assert mine["candidates"] == answer["candidates"]
        for key in ("subjects", "fingers", "templates", "short_list", "threshold"):
            assert mine[key] == answer[key]
        # A Template probe answers as its image does.
        templ = zpapi.extract(zpapi.load_image(probe)[0])
        assert gallery.identify([templ], top=3)["candidates"] == answer["candidates"]
        if not results[f]["enrolled"]:
            continue
        for level in (1, 5):
            mine = gallery.verify(f"s{f}", probe, level=level)
            answer = tool("verify", "--db", theirs, "--id", f"s{f}", probe, "--level", level)
            for key in ("finger", "slot", "templates", "score", "match", "threshold"):
                assert mine[key] == answer[key], key


def test_several_fingers_of_one_person(galleries, synth_set, tool):
    gallery, ours, theirs, _ = galleries
    probes = [synth_set / "101_4.png", synth_set / "102_4.png"]
    mine = gallery.identify(probes, fingers=["unknown", "right-index"])
    answer = tool("identify", "--db", theirs, *probes, "--finger", "unknown", "--finger", "right-index")
    assert mine["candidates"] == answer["candidates"]


def test_remove_and_errors_equal_the_tools(galleries, tmp_path, tool):
    gallery, ours, theirs, results = galleries
    mine_db, their_db = tmp_path / "a.db", tmp_path / "b.db"
    shutil.copy(ours, mine_db)
    shutil.copy(theirs, their_db)
    enrolled = next(f for f in FINGERS if results[f]["enrolled"])
    removed = zpapi.Gallery(mine_db).remove(f"s{enrolled}")
    assert removed == tool("remove", "--db", their_db, "--id", f"s{enrolled}")["templates"]
    assert _comparable(zpapi.Gallery(mine_db).list()) == _comparable(tool("list", "--db", their_db))
    with pytest.raises(zpapi.Error) as caught:
        zpapi.Gallery(mine_db).remove(f"s{enrolled}")
    done = tool("remove", "--db", their_db, "--id", f"s{enrolled}", json_out=False, check=(2,))
    assert done.stderr == "zpapi: " + str(caught.value).replace(str(mine_db), str(their_db)) + "\n"
    some = zpapi.Gallery(ours).list()["entries"][0]["template"]
    with pytest.raises(zpapi.Error) as caught:
        zpapi.Gallery(mine_db).verify("nobody", some)
    assert str(caught.value) == f"{mine_db}: no subject 'nobody'"
    with pytest.raises(zpapi.Error):
        zpapi.Gallery(tmp_path / "absent.db").identify(some)
    with pytest.raises(zpapi.Error):
        zpapi.Gallery(mine_db).enrol("x", ["/no/such/image.png"])
    with pytest.raises(ValueError):
        zpapi.Gallery(mine_db).enrol("x", [some], existing="sometimes")


def test_refused_enrolment_of_an_enrolled_finger(galleries, synth_set):
    gallery, ours, theirs, results = galleries
    enrolled = next(f for f in FINGERS if results[f]["enrolled"])
    finger = results[enrolled]["finger"]
    with pytest.raises(zpapi.Error):
        gallery.enrol(f"s{enrolled}", [str(synth_set / f"{enrolled}_4.png")], finger=finger)
