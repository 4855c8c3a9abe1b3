"""On the real sets the package gives the tool's (and so the library's)
results: template bytes, detection, scores and decisions at every level,
record formats and the skeleton picture."""

import itertools
import json

import numpy as np
import pytest

import zpapi

IMAGES = [(101, 1), (101, 2), (101, 3), (102, 1), (103, 2)]


@pytest.fixture(scope="module")
def extracted(real_sets, tool, tmp_path_factory):
    """Per set and image: (path, the package's template, the tool's template bytes)."""
    out = tmp_path_factory.mktemp("real")
    found = {}
    for folder in real_sets:
        for finger, impression in IMAGES:
            path = folder / f"{finger}_{impression}.tif"
            image, _ = zpapi.load_image(path)
            written = out / f"{folder.name}_{finger}_{impression}.zpt"
            tool("extract", path, "-o", written, "--quiet", json_out=False)
            try:
                templ = zpapi.extract(image)
            except zpapi.ExtractionError:
                templ = None
            found[(folder.name, finger, impression)] = (path, templ, written)
    return found


def test_templates_equal_the_tools_byte_for_byte(extracted):
    for key, (path, templ, written) in extracted.items():
        if templ is None:
            assert not written.exists(), key
            continue
        assert templ.to_bytes() == written.read_bytes(), key
        assert zpapi.Template.load(written) == templ


def test_scores_and_decisions_equal_the_tools(extracted, tool):
    for set_name in {k[0] for k in extracted}:
        ok = [v for k, v in extracted.items() if k[0] == set_name and v[1] is not None]
        for (_, a, fa), (_, b, fb) in itertools.combinations(ok[:4], 2):
            for level in range(1, 6):
                answer = tool("match", fa, fb, "--level", level)
                assert zpapi.score(a, b) == answer["score"]
                assert zpapi.match(a, b, level) == answer["match"], (fa, fb, level)


def test_detection_equals_the_tools(real_sets, tool):
    for folder in real_sets:
        path = folder / "101_1.tif"
        image, _ = zpapi.load_image(path)
        for threshold in (0, 60):
            d = zpapi.detect(image, threshold)
            answer = tool("detect", path, "--threshold", threshold)["results"][0]
            assert d.answer == answer["finger"]
            assert d.quality == answer["quality"]
            if d.centre is not None:
                assert list(d.centre) == answer["centre"]
                assert d.extent == tuple(answer["extent"][k] for k in ("left", "right", "top", "bottom"))


def test_record_formats_equal_the_tools(extracted, tool, tmp_path):
    path, templ, written = next(v for v in extracted.values() if v[1] is not None)
    for fmt, ours in (("iso19794-2", templ.to_iso19794_2()), ("ansi378", templ.to_ansi378())):
        tool("convert", written, "--to", fmt, "-o", tmp_path / fmt, json_out=False, check=(0,))
        assert ours == (tmp_path / fmt).read_bytes()
    tool("convert", written, "--to", "xyt", "-o", tmp_path / "xyt", json_out=False, check=(0,))
    assert templ.to_xyt() == (tmp_path / "xyt").read_text()
    info = json.loads(tool("convert", written, "--to", "json", json_out=False, check=(0,)).stdout)
    points = templ.minutiae
    assert len(points) == len(info["points"]) > 0
    for ours, theirs in zip(points, info["points"]):
        assert (ours["x"], ours["y"], ours["direction"], ours["type"]) == (
            theirs["x"], theirs["y"], theirs["direction"], {"ending": 1, "bifurcation": 2}[theirs["type"]])


def test_skeleton_equals_the_tools_picture(extracted, tool, tmp_path):
    import matplotlib.image

    path, templ, _ = next(v for v in extracted.values() if v[1] is not None)
    image, _ = zpapi.load_image(path)
    again, skeleton = zpapi.extract(image, skeleton=True)
    assert again == templ
    assert skeleton.shape == zpapi.WINDOW_SHAPE and skeleton.dtype == np.uint8
    tool("extract", path, "-o", tmp_path / "t.zpt", "--skeleton", tmp_path / "s.png", "--quiet", json_out=False)
    theirs = np.rint(matplotlib.image.imread(tmp_path / "s.png") * 255).astype(np.uint8)
    assert np.array_equal(skeleton, theirs)


def test_fitting_note_is_the_tools(real_sets):
    _, note = zpapi.load_image(real_sets[0] / "101_1.tif")
    assert note  # no real set has the sensor's size
