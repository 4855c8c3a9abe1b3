"""The package's own behaviour: templates, bad inputs, batch scoring on
several threads with the GIL released, merge, errors and generated fingers."""

import pickle
import threading
import time

import numpy as np
import pytest

import zpapi


@pytest.fixture(scope="module")
def fingers():
    """Templates of 3 generated fingers x 4 impressions, finger by finger."""
    images, truth = zpapi.synth(3, 4, 11)
    out = []
    for f in range(3):
        row = []
        for k in range(4):
            try:
                row.append(zpapi.extract(images[f, k]))
            except zpapi.ExtractionError:
                pass
        out.append(row)
    assert all(len(r) >= 2 for r in out)
    return out


def test_version_is_the_librarys(tool):
    assert zpapi.version() == tool("version")["version"]


def test_template_is_immutable_hashable_and_round_trips(fingers, tmp_path):
    t = fingers[0][0]
    assert zpapi.Template(t.to_bytes()) == t == zpapi.Template(bytes(t))
    assert hash(zpapi.Template(bytes(t))) == hash(t)
    assert len({t, zpapi.Template(bytes(t)), fingers[0][1]}) == 2
    with pytest.raises(AttributeError):
        t.quality = 3
    with pytest.raises(AttributeError):
        t._bytes = b""
    assert pickle.loads(pickle.dumps(t)) == t
    t.save(tmp_path / "t.zpt")
    assert (tmp_path / "t.zpt").read_bytes() == bytes(t)
    assert zpapi.Template.load(tmp_path / "t.zpt") == t
    m = t.minutiae
    assert m.dtype == zpapi.MINUTIA_DTYPE and len(m) > 0
    assert set(np.unique(m["type"])) <= {1, 2}
    assert 0 <= t.quality <= 100 and 0 <= t.yield_ <= 100
    assert zpapi.Template(np.frombuffer(bytes(t), np.uint8)) == t


@pytest.mark.parametrize("data, error", [
    (b"", ValueError),
    (b"\x02" * 255, ValueError),
    (b"\x00" * 257, ValueError),
    (b"\xff" * 256, ValueError),
    ("x" * 256, TypeError),
    (None, TypeError),
    (12, TypeError),
    (np.zeros(64, np.int32), TypeError),
])
def test_bad_template_bytes_raise(data, error):
    with pytest.raises(error):
        zpapi.Template(data)


def test_hostile_bytes_never_crash(fingers):
    rng = np.random.default_rng(5)
    good = bytes(fingers[0][0])
    accepted = 0
    candidates = [rng.integers(0, 256, 256, dtype=np.uint8).tobytes() for _ in range(300)]
    for _ in range(700):  # a real template with a few bytes changed
        b = bytearray(good)
        for i in rng.integers(0, 256, int(rng.integers(1, 6))):
            b[i] = int(rng.integers(0, 256))
        candidates.append(bytes(b))
    for b in candidates:
        try:
            t = zpapi.Template(b)
        except ValueError:
            continue
        accepted += 1
        assert 0 <= zpapi.score(t, fingers[1][0]) <= 100
        zpapi.match(t, fingers[0][0], 3)
        t.to_iso19794_2(), t.to_ansi378(), t.to_xyt(), t.minutiae
    assert accepted > 0
    # Raw rows are not checked before scoring: the loader refuses them (score 0) or scores them.
    scores = zpapi.QuickMatcher(fingers[0][0]).scores(np.frombuffer(b"".join(candidates), np.uint8).reshape(-1, 256))
    assert scores.dtype == np.uint8 and scores.max() <= 100


@pytest.mark.parametrize("image, error", [
    (np.zeros((384, 256), np.float32), TypeError),
    (np.zeros((384, 256), np.int64), TypeError),
    (np.zeros((256, 384), np.uint8), ValueError),
    (np.zeros((384, 256, 3), np.uint8), ValueError),
    (np.zeros(384 * 256, np.uint8), ValueError),
    (np.zeros((0, 0), np.uint8), ValueError),
])
def test_wrong_image_arrays_raise(image, error):
    with pytest.raises(error):
        zpapi.extract(image)
    with pytest.raises(error):
        zpapi.detect(image)


def test_wrong_template_arrays_raise(fingers):
    matcher = zpapi.QuickMatcher(fingers[0][0])
    with pytest.raises(TypeError):
        matcher.scores(np.zeros((4, 256), np.int16))
    with pytest.raises(ValueError):
        matcher.scores(np.zeros((4, 255), np.uint8))
    with pytest.raises(ValueError):
        matcher.scores(np.zeros(256, np.uint8))
    with pytest.raises(ValueError):
        matcher.scores([b"\x00"])
    with pytest.raises(TypeError):
        matcher.scores(["not a template"])
    with pytest.raises(TypeError):
        zpapi.match(fingers[0][0], "not a template")
    assert matcher.scores(np.zeros((0, 256), np.uint8)).shape == (0,)


def test_non_contiguous_image_is_read_as_it_looks(fingers):
    images, _ = zpapi.synth(1, 1, 11)
    image = images[0, 0]
    flipped = np.ascontiguousarray(image[::-1])[::-1]  # a strided view of the same pixels
    assert not flipped.flags.c_contiguous
    assert zpapi.extract(flipped) == zpapi.extract(image)


def test_extraction_error_carries_the_code():
    blank = np.full(zpapi.IMAGE_SHAPE, 255, np.uint8)
    with pytest.raises(zpapi.ExtractionError) as caught:
        zpapi.extract(blank)
    assert caught.value.code == 1
    assert str(caught.value) == "no finger or quality too low"
    assert isinstance(caught.value, zpapi.Error)
    assert not zpapi.detect(blank)


def test_errors_carry_the_tools_messages(tmp_path, tool):
    missing = tmp_path / "missing.png"
    with pytest.raises(zpapi.Error) as caught:
        zpapi.load_image(missing)
    done = tool("detect", missing, json_out=False, check=(2,))
    assert str(caught.value) in done.stderr
    (tmp_path / "short.zpt").write_bytes(b"\x02" * 100)
    with pytest.raises(zpapi.Error) as caught:
        zpapi.Template.load(tmp_path / "short.zpt")
    assert str(caught.value) == f"{tmp_path / 'short.zpt'}: a template has 256 bytes, this file 100 (truncated)"
    with pytest.raises(ValueError):
        zpapi.load_image(missing, dpi=5)


def _batch(fingers, n):
    rows = np.frombuffer(b"".join(bytes(t) for r in fingers for t in r), np.uint8).reshape(-1, 256)
    return np.ascontiguousarray(np.resize(rows, (n, 256)))


def test_quick_matcher_on_several_threads_equals_one(fingers):
    batch = _batch(fingers, 6000)
    matcher = zpapi.QuickMatcher(fingers[0][1])
    one = matcher.scores(batch, threads=1)
    assert one.shape == (6000,) and one.dtype == np.uint8
    for threads in (2, 3, 8, 0):
        assert np.array_equal(matcher.scores(batch, threads=threads), one)
    as_templates = [t for r in fingers for t in r]
    assert np.array_equal(matcher.scores(as_templates), one[: len(as_templates)])
    # The probe's own impressions score above the other fingers'.
    own = matcher.scores(fingers[0])
    assert own.max() == 100 or own.max() > matcher.scores(fingers[1] + fingers[2]).max()


def test_gil_is_released_during_batch_scoring(fingers):
    batch = _batch(fingers, 200_000)
    matcher = zpapi.QuickMatcher(fingers[0][0])
    ticks = []
    running = threading.Event()
    stop = threading.Event()

    def count():
        running.set()
        while not stop.is_set():
            ticks.append(time.perf_counter())

    counter = threading.Thread(target=count)
    counter.start()
    running.wait()
    start = time.perf_counter()
    matcher.scores(batch, threads=1)
    end = time.perf_counter()
    stop.set()
    counter.join()
    during = sum(1 for t in ticks if start < t < end)
    # Holding the GIL the whole call would leave the counter at most a switch interval.
    assert end - start > 0.02
    assert during > 1000, f"{during} ticks in {end - start:.3f} s of scoring"


def test_merge_picks_the_best_by_quality(fingers):
    row = fingers[0]
    best, confirmed = zpapi.merge(row)
    assert best in row
    assert best.quality == max(t.quality for t in row)
    assert isinstance(confirmed, bool)
    with pytest.raises(ValueError):
        zpapi.merge(row[:1])


def test_levels_outside_one_to_five_act_as_level_three(fingers):
    for a, b in ((fingers[0][0], fingers[0][1]), (fingers[0][0], fingers[1][0])):
        for level in (0, 6, 9, -1):
            assert zpapi.match(a, b, level) == zpapi.match(a, b, 3)


def test_synth_equals_the_tools_files(synth_set):
    import json

    images, truth = zpapi.synth(4, 4, 7)
    assert images.shape == (4, 4) + zpapi.IMAGE_SHAPE and images.dtype == np.uint8
    for f in range(4):
        for k in range(4):
            name = f"{101 + f}_{k + 1}"
            theirs, note = zpapi.load_image(synth_set / f"{name}.png")
            assert note == ""
            assert np.array_equal(images[f, k], theirs), name
            t = truth[f * 4 + k]
            expected = json.loads((synth_set / f"{name}.json").read_text())
            assert (t["finger"], t["impression"], t["class"]) == (expected["finger"], expected["impression"],
                                                                  expected["class"])
            assert len(t["minutiae"]) == len(expected["minutiae"])
            for ours, theirs in zip(t["minutiae"], expected["minutiae"]):
                assert round(float(ours["x"]), 1) == pytest.approx(theirs["x"], abs=0.051)
                assert int(ours["type"]) == theirs["type"]
    with pytest.raises(ValueError):
        zpapi.synth(0, 1, 1)
    with pytest.raises(TypeError):
        zpapi.synth(1, 1, -1)
