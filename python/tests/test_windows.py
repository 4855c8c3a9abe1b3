"""Several windows of one capture through Python, as the tool makes them."""

import numpy as np
import pytest

import zpapi


@pytest.fixture(scope="session")
def large_set(tmp_path_factory, tool):
    """2 fingers x 4 impressions on a 448 x 560 sensor (zpapi synth --canvas)."""
    out = tmp_path_factory.mktemp("large")
    tool("synth", "--fingers", 2, "--impressions", 4, "--seed", 5, "--canvas", "448x560", "-o", out, "--quiet",
         json_out=False, check=(0,))
    return out


def test_windows_of_a_capture_equal_the_tools(large_set, tool):
    image = large_set / "101_1.png"
    windows = zpapi.extract_windows(image, windows=5)
    assert windows and windows[0].window == 0
    # Window 0 is the template of the capture fitted as load_image fits it.
    assert windows[0].template == zpapi.extract(zpapi.load_image(image)[0])
    assert len({w.template for w in windows}) == len(windows), "a repeated window is left out"
    shown = tool("show", "--windows", 5, image, "-o", large_set / "w.png")
    assert [(w.window, list(w.rect)) for w in windows] == [(s["window"], s["rect"]) for s in shown["windows"]]
    # An array of the capture's pixels gives the same windows.
    from_array = zpapi.extract_windows(np.asarray(_grey(image)), windows=5)
    assert from_array == windows
    assert zpapi.extract_windows(image, windows=1) == windows[:1]
    with pytest.raises(ValueError):
        zpapi.extract_windows(image, windows=zpapi.MAX_WINDOWS + 1)


def _grey(path):
    """The PNG's grey pixels at full size."""
    image = pytest.importorskip("matplotlib.image")
    return np.round(image.imread(path) * 255).astype(np.uint8)


def test_enrol_verify_identify_with_windows_equal_the_tools(large_set, tmp_path, tool):
    images = [str(large_set / f"101_{k}.png") for k in (1, 2, 3)]
    probe = str(large_set / "101_4.png")
    ours, theirs = tmp_path / "python.db", tmp_path / "tool.db"
    gallery = zpapi.Gallery(ours)
    mine = gallery.enrol("a", images, windows=5)
    answer = tool("enroll", "--db", theirs, "--id", "a", "--windows", 5, *images)
    assert mine["templates"] == answer["templates"]
    assert [x["windows"] for x in mine["impressions"]] == [x.get("windows") for x in answer["impressions"]]
    rows = gallery.list()["entries"]
    assert [(r["slot"], r["window"]) for r in rows] == [(r["slot"], r["window"]) for r in
                                                        tool("list", "--db", theirs)["entries"]]
    assert len(rows) <= zpapi.MAX_TEMPLATES_PER_FINGER
    for windows in (1, 3):
        got = gallery.verify("a", probe, windows=windows)
        want = tool("verify", "--db", theirs, "--id", "a", probe, "--windows", windows)
        for key in ("slot", "window", "probe_windows", "probe_window", "score", "match"):
            assert got[key] == want[key], key
        found = gallery.identify(probe, windows=windows)
        assert found["candidates"] == tool("identify", "--db", theirs, probe, "--windows", windows)["candidates"]
        assert found["probes"][0]["windows"][0] == 0


def test_image_arrays_enrol_and_verify_with_their_windows(large_set, tmp_path):
    images = [large_set / f"101_{k}.png" for k in (1, 2, 3)]
    by_path = zpapi.Gallery(tmp_path / "paths.db").enrol("a", [str(p) for p in images], windows=5)
    gallery = zpapi.Gallery(tmp_path / "arrays.db")
    by_array = gallery.enrol("a", [_grey(p) for p in images], windows=5)
    assert by_array["templates"] == by_path["templates"]
    assert [r["window"] for r in gallery.list()["entries"]] == \
        [r["window"] for r in zpapi.Gallery(tmp_path / "paths.db").list()["entries"]]
    probe = large_set / "101_4.png"
    assert gallery.verify("a", _grey(probe), windows=3)["score"] == gallery.verify("a", str(probe), windows=3)["score"]
    with pytest.raises(ValueError):
        gallery.verify("a", _grey(probe), windows=1)  # one window: a sensor-sized image, as extract() takes


def test_a_blank_image_fails_alike_with_any_windows(large_set, tmp_path):
    blank = np.full(zpapi.IMAGE_SHAPE, 200, np.uint8)
    with pytest.raises(zpapi.ExtractionError) as caught:
        zpapi.extract(blank)
    gallery = zpapi.Gallery(tmp_path / "g.db")
    # The centred window's failure is the extractor's own, as with one window.
    for windows in (1, 3):
        outcome = gallery.enrol("a", [blank], windows=windows)
        assert outcome["impressions"][0]["reason"] == str(caught.value), windows
    # Among several probes, the one without a template is named.
    with pytest.raises(zpapi.Error, match="^probe 2: no window of the image gave a template$"):
        gallery.identify([_grey(large_set / "101_4.png"), blank], windows=3)
