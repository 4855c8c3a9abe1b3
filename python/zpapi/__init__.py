"""ZPAPI fingerprint recognition from Python.

Images are numpy ``uint8`` arrays of shape (384, 256) (the sensor's 256 x 384
pixels at 500 dpi, row by row); templates are immutable 256-byte
:class:`Template` objects. Every call gives the results of the C library and
of the ``zpapi`` tool: the same template bytes, scores and decisions, the same
gallery file and the same error messages.
"""

from __future__ import annotations

import os
from dataclasses import dataclass
from typing import Iterable, List, NamedTuple, Optional, Sequence, Tuple, Union

import numpy as np

from . import _zpapi
from ._zpapi import Error

__all__ = [
    "Error", "ExtractionError", "Detection", "Template", "QuickMatcher", "Gallery", "MINUTIA_DTYPE",
    "TRUTH_DTYPE", "IMAGE_SHAPE", "TEMPLATE_SIZE", "version", "load_image", "detect", "extract", "match",
    "score", "merge", "level_threshold", "synth", "WindowTemplate", "extract_windows", "MAX_WINDOWS",
    "DEFAULT_VERIFY_WINDOWS", "DEFAULT_IDENTIFY_WINDOWS", "MAX_TEMPLATES_PER_FINGER",
]

TEMPLATE_SIZE = _zpapi.TEMPLATE_SIZE
IMAGE_SHAPE = (_zpapi.IMAGE_HEIGHT, _zpapi.IMAGE_WIDTH)
# Shape of the skeleton picture: the working window the extractor cuts.
WINDOW_SHAPE = (_zpapi.WINDOW_HEIGHT, _zpapi.WINDOW_WIDTH)

# Windows of one capture (``zpapi enroll --windows``): at most, the probe's
# windows verify and identify extract by default, and templates kept per finger.
MAX_WINDOWS = _zpapi.MAX_WINDOWS
DEFAULT_VERIFY_WINDOWS = _zpapi.DEFAULT_VERIFY_WINDOWS
DEFAULT_IDENTIFY_WINDOWS = _zpapi.DEFAULT_IDENTIFY_WINDOWS
MAX_TEMPLATES_PER_FINGER = _zpapi.MAX_TEMPLATES_PER_FINGER

# Minutiae of a template in pixels of the 232 x 280 working window; direction
# in degrees from +x towards +y (y down); type 1 ending, 2 bifurcation.
MINUTIA_DTYPE = np.dtype([("x", "<i4"), ("y", "<i4"), ("direction", "<i4"), ("type", "<i4")])
# Ground-truth minutiae of a generated impression, in image pixels.
TRUTH_DTYPE = np.dtype([("x", "<f8"), ("y", "<f8"), ("direction", "<f8"), ("type", "<f8")])

Image = np.ndarray
PathLike = Union[str, "os.PathLike[str]"]


class ExtractionError(Error):
    """No template: ``code`` is the result of ZPFingerExtract, the message its meaning."""

    def __init__(self, code: int, message: str, skeleton: Optional[np.ndarray] = None):
        super().__init__(message)
        self.code = code
        self.skeleton = skeleton


def version() -> str:
    """The library's version text."""
    return _zpapi.version()


def level_threshold(level: int) -> int:
    """The score ZPMatch's security level asks for (other levels act as level 3)."""
    return _zpapi.level_threshold(level)


def load_image(path: PathLike, dpi: int = 500) -> Tuple[np.ndarray, str]:
    """Reads PNG, PNM, BMP, JPEG or TIFF as the tool does: resampled from dpi to
    500 dpi and fitted to the sensor. Returns the (384, 256) uint8 image and what
    the fitting did ("" when the image had the sensor's size)."""
    return _zpapi.load_image(os.fspath(path), dpi)


@dataclass(frozen=True)
class Detection:
    """What the quality score sees: ``answer`` is ZPFingerDetect at the threshold."""

    answer: bool
    quality: int
    centre: Optional[Tuple[int, int]]  # (x, y) in sensor pixels; None when no finger was found
    extent: Optional[Tuple[int, int, int, int]]  # (left, right, top, bottom)

    def __bool__(self) -> bool:
        return self.answer


def detect(image: np.ndarray, threshold: int = 0) -> Detection:
    """Is there a finger of at least this quality (0..100) on the image?"""
    return Detection(*_zpapi.detect(image, threshold))


def _bytes_of(data) -> bytes:
    if isinstance(data, bytes):
        return data
    if isinstance(data, str):
        raise TypeError("a template is bytes, not str")
    try:
        view = memoryview(data)
    except TypeError:
        raise TypeError(f"a template is bytes or a bytes-like object, not {type(data).__name__}") from None
    if view.itemsize != 1:
        raise TypeError("a template's buffer must hold bytes (uint8)")
    return view.tobytes()


class Template:
    """A 256-byte template: immutable and hashable, equal when its bytes are.

    Constructing one refuses bytes the library would refuse (``ValueError``)."""

    __slots__ = ("_bytes",)

    def __init__(self, data):
        if isinstance(data, Template):
            raw = data._bytes
        else:
            raw = _bytes_of(data)
            if len(raw) != TEMPLATE_SIZE:
                raise ValueError(f"a template has {TEMPLATE_SIZE} bytes, this one {len(raw)}")
            why = _zpapi.template_rejection(raw)
            if why:
                raise ValueError("template rejected: " + why)
        object.__setattr__(self, "_bytes", raw)

    def __setattr__(self, name, value):
        raise AttributeError("a Template cannot be changed")

    def __delattr__(self, name):
        raise AttributeError("a Template cannot be changed")

    @classmethod
    def load(cls, path: PathLike) -> "Template":
        """Reads a .zpt file (exactly 256 bytes) as the tool does."""
        path = os.fspath(path)
        raw = _zpapi.read_template(path)
        why = _zpapi.template_rejection(raw)
        if why:
            raise Error(f"{path}: template rejected: {why}")
        return cls(raw)

    def save(self, path: PathLike) -> None:
        """Writes the 256 bytes atomically (a failed write leaves no short file)."""
        _zpapi.write_template(os.fspath(path), self._bytes)

    def to_bytes(self) -> bytes:
        return self._bytes

    def __bytes__(self) -> bytes:
        return self._bytes

    def __len__(self) -> int:
        return TEMPLATE_SIZE

    def __eq__(self, other) -> bool:
        return isinstance(other, Template) and other._bytes == self._bytes

    def __hash__(self) -> int:
        return hash(self._bytes)

    def __reduce__(self):
        return (Template, (self._bytes,))

    def __repr__(self) -> str:
        count, _, quality = _zpapi.template_header(self._bytes)
        return f"<zpapi.Template {count} minutiae, quality {quality}>"

    @property
    def minutiae(self) -> np.ndarray:
        """Structured array (x, y, direction, type) in working-window pixels."""
        return np.ascontiguousarray(_zpapi.minutiae(self._bytes)).view(MINUTIA_DTYPE).reshape(-1)

    @property
    def quality(self) -> int:
        return _zpapi.template_header(self._bytes)[2]

    @property
    def yield_(self) -> int:
        """Candidate yield of the extraction (percent)."""
        return _zpapi.template_header(self._bytes)[1]

    def to_iso19794_2(self) -> bytes:
        """ISO/IEC 19794-2 finger minutiae record, as ``zpapi convert --to iso19794-2``."""
        return _zpapi.to_iso19794_2(self._bytes)

    def to_ansi378(self) -> bytes:
        """ANSI INCITS 378 record, as ``zpapi convert --to ansi378``."""
        return _zpapi.to_ansi378(self._bytes)

    def to_xyt(self) -> str:
        """One "x y theta quality" line per minutia, as ``zpapi convert --to xyt``."""
        return _zpapi.to_xyt(self._bytes)


def _template_bytes(t) -> bytes:
    if isinstance(t, Template):
        return t._bytes
    return Template(t)._bytes


def extract(image: np.ndarray, threshold: int = 0, min_yield: int = 0, skeleton: bool = False):
    """ZPFingerExtract: the template of a (384, 256) uint8 image, or
    ``(template, skeleton)`` with skeleton=True, the skeleton a (280, 232) grey
    picture of the working window (white background, black skeleton, grey marks).
    Raises ExtractionError when no template is made."""
    code, templ, picture = _zpapi.extract(image, threshold, min_yield)
    if templ is None:
        raise ExtractionError(code, _zpapi.extract_result_text(code), picture)
    t = Template(templ)
    return (t, picture) if skeleton else t


class WindowTemplate(NamedTuple):
    """The template of one window of a capture: window 0 is the centred one,
    1, 2, ... the others in the tool's grid order; rect is the working window
    (x, y, width, height) in the capture's pixels at 500 dpi."""

    template: Template
    rect: Tuple[int, int, int, int]
    window: int


def _extract_windows(image, windows: int, dpi: int = 500) -> Tuple[int, List[WindowTemplate]]:
    """extract_windows() and the centred window's ZPFingerExtract code."""
    source = image if isinstance(image, np.ndarray) else os.fspath(image)
    code, found = _zpapi.extract_windows(source, windows, dpi)
    return code, [WindowTemplate(Template(t), tuple(rect), w) for w, t, rect in found]


def extract_windows(image, windows: int = 5, dpi: int = 500) -> List[WindowTemplate]:
    """Templates of up to ``windows`` windows placed over the finger of a
    capture of any size: a path (resampled from dpi) or a 2-d uint8 array at
    500 dpi. Windows that fail, or repeat an earlier window's template, are
    left out; window 0 is the template extract() makes of load_image()'s image."""
    return _extract_windows(image, windows, dpi)[1]


def match(a: Template, b: Template, level: int = 3) -> bool:
    """ZPMatch: do a and b come from the same finger at security level 1 to 5?
    (Other levels act as level 3, as in the library.)"""
    return _zpapi.match(_template_bytes(a), _template_bytes(b), int(level))


def score(a: Template, b: Template) -> int:
    """The match score 0..100 that ZPMatch compares with the level's threshold."""
    return _zpapi.score(_template_bytes(a), _template_bytes(b))


def merge(templates: Sequence[Template]) -> Tuple[Template, bool]:
    """ZPFingerMerge: the best template by quality, and whether it is good enough
    and confirmed by the runner-up."""
    raw = [_template_bytes(t) for t in templates]
    best, confirmed = _zpapi.merge(raw)
    return Template(best), confirmed


def _template_array(templates) -> np.ndarray:
    if isinstance(templates, np.ndarray):
        return templates
    raw = [_template_bytes(t) for t in templates]
    if not raw:
        return np.zeros((0, TEMPLATE_SIZE), np.uint8)
    return np.frombuffer(b"".join(raw), dtype=np.uint8).reshape(len(raw), TEMPLATE_SIZE)


class QuickMatcher:
    """ZPQuickMatch of one probe against many templates: the probe is loaded
    once, the templates are scored on every core (one loaded workspace per
    thread) while the GIL is released."""

    def __init__(self, probe: Template):
        self.probe = probe if isinstance(probe, Template) else Template(probe)
        self._matcher = _zpapi.QuickMatcher(self.probe._bytes)

    def scores(self, templates, threads: int = 0) -> np.ndarray:
        """Scores 0..100 (uint8), one per template; templates is an (N, 256)
        uint8 array or a sequence of Template. threads=0: every core."""
        if threads < 0:
            raise ValueError("threads must not be negative")
        return self._matcher.scores(_template_array(templates), threads)


def _source(item, windows: int = 1, label: Optional[str] = None):
    """A probe or impression as the binding takes it: template bytes, a path,
    or [(window, bytes), ...] of an image array's windows. label names the
    probe in an error where there are several."""
    if isinstance(item, Template):
        return item._bytes
    if isinstance(item, (str, os.PathLike)):
        return os.fspath(item)
    if isinstance(item, np.ndarray):
        if windows == 1:
            return extract(item)._bytes
        found = extract_windows(item, windows)
        if not found:
            raise Error(f"{label + ': ' if label else ''}no window of the image gave a template")
        return [(w.window, w.template._bytes) for w in found]
    raise TypeError(f"expected a Template, an image array or a path, not {type(item).__name__}")


class Gallery:
    """The gallery of ``zpapi enroll / verify / identify / list / remove``: an
    SQLite file, or a ``postgresql://`` URI of a server gallery. Each call
    opens it as the tool's command does, so that the tool and Python may
    share one gallery."""

    def __init__(self, path: PathLike = "zpapi.db"):
        self.path = os.fspath(path)
        self._gallery = _zpapi.Gallery(self.path)

    def enrol(self, subject: str, impressions: Iterable, finger="unknown", keep: int = 3,
              existing: str = "refuse", check_duplicates: bool = False, level: int = 3, dpi: int = 500,
              windows: int = 1) -> dict:
        """Enrols one finger as ``zpapi enroll`` does. impressions: image paths,
        template files, Template objects or image arrays. existing: 'refuse',
        'replace' (--replace) or 'add' (--add). windows: as enroll's --windows,
        the kept impressions' other windows are kept too (up to
        MAX_TEMPLATES_PER_FINGER). Returns enroll's JSON fields."""
        offered = []
        for i, item in enumerate(impressions):
            if isinstance(item, np.ndarray) and windows > 1:
                code, found = _extract_windows(item, windows)
                centred = [w for w in found if w.window == 0]
                others = [(w.window, w.template._bytes) for w in found if w.window != 0]
                if centred:
                    offered.append((f"image {i + 1}", centred[0].template._bytes, "", others))
                else:
                    offered.append((f"image {i + 1}", None, _zpapi.extract_result_text(code), []))
            elif isinstance(item, np.ndarray):
                label = f"image {i + 1}"
                try:
                    offered.append((label, extract(item)._bytes, ""))
                except ExtractionError as e:
                    offered.append((label, None, str(e)))
            elif isinstance(item, Template):
                offered.append((f"template {i + 1}", item._bytes, ""))
            else:
                offered.append(_source(item))
        return self._gallery.enrol(subject, offered, finger, keep, existing, check_duplicates, level, dpi, windows)

    def verify(self, subject: str, probe, finger=None, level: int = 3, dpi: int = 500,
               skip_damaged: bool = False, windows: int = DEFAULT_VERIFY_WINDOWS) -> dict:
        """1:1 as ``zpapi verify``: the best score over the probe's windows and
        the subject's templates (of one finger, or of all) decides."""
        return self._gallery.verify(subject, _source(probe, windows), finger, level, dpi, skip_damaged, windows)

    def identify(self, probes, fingers: Optional[Sequence] = None, top: int = 5, short_list: int = 0,
                 level: int = 3, threads: int = 0, dpi: int = 500, skip_damaged: bool = False,
                 windows: int = DEFAULT_IDENTIFY_WINDOWS) -> dict:
        """1:N as ``zpapi identify``: one probe, or several fingers of one person
        (fingers: their positions, in order); each probe's windows count by
        their best score. Returns identify's JSON fields."""
        if not isinstance(probes, (list, tuple)):
            probes = [probes]
        several = len(probes) > 1
        sources = [_source(p, windows, f"probe {i + 1}" if several else None) for i, p in enumerate(probes)]
        return self._gallery.identify(sources, list(fingers or []), top, short_list, level, threads, dpi, skip_damaged,
                                      windows)

    def list(self) -> dict:
        """Every row as ``zpapi list --json`` gives it, each with its Template."""
        out = self._gallery.rows()
        for entry in out["entries"]:
            entry["template"] = Template(entry["template"])
        subjects = {e["subject"] for e in out["entries"]}
        fingers = {(e["subject"], e["finger"]) for e in out["entries"]}
        out.update(subjects=len(subjects), fingers=len(fingers), templates=len(out["entries"]))
        return out

    def remove(self, subject: str, finger=None) -> int:
        """Removes a subject (or one finger); the number of templates removed.
        Raises Error when there was nothing to remove, as ``zpapi remove``."""
        return self._gallery.remove(subject, finger)

    def __repr__(self) -> str:
        return f"zpapi.Gallery({self.path!r})"


def synth(fingers: int, impressions: int, seed: int, pattern_class: Optional[str] = None):
    """Generated fingers as ``zpapi synth`` makes them (finger ids from 101):
    images of shape (fingers, impressions, 384, 256) and one ground-truth dict per
    image, finger by finger (finger, impression, class, minutiae as TRUTH_DTYPE,
    singular_points)."""
    images, truth = _zpapi.synth(fingers, impressions, seed, pattern_class)
    for t in truth:
        t["minutiae"] = np.ascontiguousarray(t["minutiae"]).view(TRUTH_DTYPE).reshape(-1)
    return images, truth
