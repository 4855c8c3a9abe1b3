// _zpapi: the library, the gallery and the tool's readers and writers for
// Python. The package's zpapi/__init__.py gives them their public shape;
// this module converts buffers, releases the GIL around the work and turns
// the front ends' errors into Python exceptions.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "cli_common.h"
#include "core/rules.h"
#include "gallery/enrol.h"
#include "gallery/search.h"
#include "gallery/store.h"
#include "image_io.h"
#include "minutia_formats.h"
#include "synth/synth.h"
#include "zpapi.h"

namespace py = pybind11;

namespace {

using zpcli::InputError;
using zpg::Template;

constexpr int kMinDpi = 100;  // the tool's --dpi range
constexpr int kMaxDpi = 2000;

// Template bytes handed over by the package (always a bytes object there);
// anything else of the wrong length is refused before the library sees it.
Template templateOf(const py::bytes& data) {
    const std::string_view bytes = static_cast<std::string_view>(data);
    if (bytes.size() != ZP_TEMPLATE_SIZE)
        throw py::value_error("a template has " + std::to_string(ZP_TEMPLATE_SIZE) + " bytes, this one " +
                              std::to_string(bytes.size()));
    Template t{};
    std::memcpy(t.data(), bytes.data(), t.size());
    return t;
}

py::bytes bytesOf(const std::uint8_t* data, std::size_t size) {
    return py::bytes(reinterpret_cast<const char*>(data), size);
}
py::bytes bytesOf(const Template& t) { return bytesOf(t.data(), t.size()); }

void checkUint8(const py::array& a, const char* what) {
    if (!a.dtype().is(py::dtype::of<std::uint8_t>()))
        throw py::type_error(std::string(what) + " must be a uint8 array, not " + std::string(py::str(a.dtype())));
}

// A sensor image: uint8, shape (384, 256); copied, since extraction writes
// into its buffer.
std::vector<std::uint8_t> sensorImageOf(const py::array& a) {
    checkUint8(a, "the image");
    if (a.ndim() != 2 || a.shape(0) != ZP_IMAGE_HEIGHT || a.shape(1) != ZP_IMAGE_WIDTH) {
        std::string shape;
        for (py::ssize_t d = 0; d < a.ndim(); ++d) shape += (d ? ", " : "") + std::to_string(a.shape(d));
        throw py::value_error("the image must have shape (" + std::to_string(ZP_IMAGE_HEIGHT) + ", " +
                              std::to_string(ZP_IMAGE_WIDTH) + "), not (" + shape + ")");
    }
    const auto c = py::array_t<std::uint8_t, py::array::c_style>::ensure(a);
    return {c.data(), c.data() + c.size()};
}

py::array_t<std::uint8_t> arrayOf(const std::vector<std::uint8_t>& pixels, py::ssize_t height, py::ssize_t width) {
    py::array_t<std::uint8_t> out({height, width});
    std::copy(pixels.begin(), pixels.end(), out.mutable_data());
    return out;
}

void checkLevel(int level) {
    if (level < 1 || level > 5) throw py::value_error("level must be 1 to 5, not " + std::to_string(level));
}

void checkDpi(int dpi) {
    if (dpi < kMinDpi || dpi > kMaxDpi)
        throw py::value_error("dpi must be " + std::to_string(kMinDpi) + " to " + std::to_string(kMaxDpi) + ", not " +
                              std::to_string(dpi));
}

int fingerOf(const py::object& finger, int absent) {
    if (finger.is_none()) return absent;
    if (py::isinstance<py::str>(finger)) return zpg::parseFinger(finger.cast<std::string>());
    if (py::isinstance<py::int_>(finger)) return zpg::parseFinger(std::to_string(finger.cast<long long>()));
    throw py::type_error("a finger is a name such as 'right-index' or a number 0 to 10");
}

// A probe or impression: template bytes (label given), or a path the tool
// would take (an image, or a template file).
Template probeTemplate(const py::object& item, int dpi) {
    if (py::isinstance<py::bytes>(item)) {
        const Template t = templateOf(item.cast<py::bytes>());
        const std::string why = zpg::templateRejection(t);
        if (!why.empty()) throw InputError{"template rejected: " + why};
        return t;
    }
    const std::string path = item.cast<std::string>();
    py::gil_scoped_release release;
    return zpcli::templateFromPath(path, dpi, true);
}

void checkWindows(int windows) {
    if (windows < 1 || windows > zpcli::kMaxWindows)
        throw py::value_error("windows must be 1 to " + std::to_string(zpcli::kMaxWindows) + ", not " +
                              std::to_string(windows));
}

// A probe's windows: template bytes (one, window 0), a list of (window,
// template bytes) the package extracted from an image array, or a path the
// tool would take (an image's windows, or a template file).
std::vector<zpcli::WindowExtraction> probeWindows(const py::object& item, int dpi, int windows) {
    if (py::isinstance<py::list>(item)) {
        std::vector<zpcli::WindowExtraction> out;
        for (const py::handle w : item.cast<py::list>()) {
            const auto t = w.cast<py::tuple>();
            out.push_back({t[0].cast<int>(), {}, probeTemplate(t[1], dpi)});
        }
        if (out.empty()) throw InputError{"no window of the probe gave a template"};
        return out;
    }
    if (py::isinstance<py::bytes>(item)) return {{0, {}, probeTemplate(item, dpi)}};
    const std::string path = item.cast<std::string>();
    py::gil_scoped_release release;
    return zpcli::windowTemplatesFromPath(path, dpi, windows, true);
}

py::list damagedList(const std::vector<zpg::DamagedRow>& damaged) {
    py::list out;
    for (const zpg::DamagedRow& d : damaged)
        out.append(py::dict(py::arg("subject") = d.subject, py::arg("finger") = zpg::fingerName(d.finger),
                            py::arg("slot") = d.slot, py::arg("reason") = d.reason));
    return out;
}

// The scores of one loaded probe against many templates, on all cores.
class QuickMatcher {
  public:
    explicit QuickMatcher(const py::bytes& probe) : probe_(templateOf(probe)) {
        zpg::Workspace ws;
        if (ZPLoadFeature(probe_.data(), ws.data()) != 1) throw zpg::Error{"the probe template is refused by the loader"};
    }

    py::array_t<std::uint8_t> scores(const py::array& templates, unsigned threads) const {
        checkUint8(templates, "templates");
        if (templates.ndim() != 2 || templates.shape(1) != ZP_TEMPLATE_SIZE)
            throw py::value_error("templates must have shape (N, " + std::to_string(ZP_TEMPLATE_SIZE) + ")");
        const auto c = py::array_t<std::uint8_t, py::array::c_style>::ensure(templates);
        const auto n = static_cast<std::size_t>(c.shape(0));
        py::array_t<std::uint8_t> out(static_cast<py::ssize_t>(n));
        const auto* first = reinterpret_cast<const Template*>(c.data());
        std::uint8_t* scores = out.mutable_data();
        {
            py::gil_scoped_release release;
            zpg::quickScores(probe_, std::span<const Template>(first, n), std::span<std::uint8_t>(scores, n), threads);
        }
        return out;
    }

  private:
    Template probe_;
};

std::unique_ptr<zpg::Store> openStore(const std::string& path, zpg::Access access) {
    py::gil_scoped_release release;
    return zpg::openGallery(path, access);
}

// The gallery file the tool's enroll, verify, identify, list and remove use:
// each call opens it as that command does.
class Gallery {
  public:
    explicit Gallery(std::string path) : path_(std::move(path)) {}
    const std::string& path() const { return path_; }

    py::dict enrol(const std::string& subject, const py::list& impressions, const py::object& finger, int keep,
                   const std::string& existing, bool checkDuplicates, int level, int dpi, int windows) {
        checkLevel(level);
        checkDpi(dpi);
        checkWindows(windows);
        if (keep < 1 || keep > zpg::kMaxKeep)
            throw py::value_error("keep must be 1 to " + std::to_string(zpg::kMaxKeep) + ", not " + std::to_string(keep));
        if (subject.empty()) throw py::value_error("a subject id must not be empty");
        if (impressions.empty()) throw py::value_error("enrol needs at least one impression");
        zpg::EnrolOptions options;
        options.keep = keep;
        options.checkDuplicates = checkDuplicates;
        options.level = level;
        if (existing == "refuse") options.existing = zpg::Existing::Refuse;
        else if (existing == "replace") options.existing = zpg::Existing::Replace;
        else if (existing == "add") options.existing = zpg::Existing::Add;
        else throw py::value_error("existing must be 'refuse', 'replace' or 'add', not '" + existing + "'");
        const int position = fingerOf(finger, zpg::kUnknownFinger);

        // Every file is read before anything is decided, as enroll does.
        std::vector<zpg::Impression> offered;
        std::vector<std::string> paths;
        std::vector<std::size_t> pathAt;
        for (const py::handle item : impressions) {
            if (py::isinstance<py::tuple>(item)) {
                // (label, template bytes or None, why there is none[, [(window, bytes), ...]])
                const auto t = item.cast<py::tuple>();
                zpg::Impression im;
                im.label = t[0].cast<std::string>();
                if (t[1].is_none()) im.failure = t[2].cast<std::string>();
                else im.templ = templateOf(t[1].cast<py::bytes>());
                if (t.size() > 3)
                    for (const py::handle w : t[3].cast<py::list>())
                        im.windows.push_back({w.cast<py::tuple>()[0].cast<int>(),
                                              templateOf(w.cast<py::tuple>()[1].cast<py::bytes>())});
                offered.push_back(std::move(im));
            } else {
                pathAt.push_back(offered.size());
                paths.push_back(item.cast<std::string>());
                offered.emplace_back();
            }
        }
        zpg::EnrolOutcome r;
        {
            py::gil_scoped_release release;
            std::string unreadable;
            for (std::size_t i = 0; i < paths.size(); ++i) {
                try {
                    offered[pathAt[i]] = zpcli::offeredImpression(paths[i], dpi, true, windows);
                } catch (const InputError& e) {
                    unreadable += (unreadable.empty() ? "" : "; ") + e.message;
                }
            }
            if (!unreadable.empty()) throw InputError{unreadable + " (nothing enrolled)"};
            auto store = zpg::openGallery(path_, zpg::Access::Write);
            r = zpg::enrolFinger(*store, subject, position, offered, options);
        }
        py::list outcomes;
        for (const zpg::ImpressionOutcome& o : r.decision.outcomes) {
            py::dict d(py::arg("image") = o.label, py::arg("outcome") = zpg::fateName(o.fate));
            d["score"] = o.score >= 0 ? py::object(py::int_(o.score)) : py::none();
            d["slot"] = o.slot >= 0 ? py::object(py::int_(o.slot)) : py::none();
            d["windows"] = o.slot >= 0 ? py::object(py::cast(o.windows)) : py::none();
            d["reason"] = o.why;
            outcomes.append(d);
        }
        py::dict out(py::arg("subject") = subject, py::arg("finger") = zpg::fingerName(position),
                     py::arg("enrolled") = r.enrolled(),
                     py::arg("templates") = r.enrolled() ? r.decision.kept.size() : std::size_t{0});
        out["reason"] = r.enrolled() ? py::none() : py::object(py::str(r.reason()));
        out["duplicate_of"] = r.duplicate ? py::object(py::str(r.duplicate->subject)) : py::none();
        out["impressions"] = outcomes;
        return out;
    }

    py::dict verify(const std::string& subject, const py::object& probe, const py::object& finger, int level, int dpi,
                    bool skipDamaged, int windows) {
        checkLevel(level);
        checkDpi(dpi);
        checkWindows(windows);
        const int position = fingerOf(finger, zpg::Store::kAllFingers);
        std::vector<zpg::DamagedRow> damaged;
        std::vector<zpg::StoredTemplate> enrolled;
        {
            auto store = openStore(path_, zpg::Access::Read);
            py::gil_scoped_release release;
            enrolled = store->templatesOf(subject, position, damaged);
            if (!skipDamaged) zpcli::refuseDamaged(store->location(), damaged, false);
            if (enrolled.empty()) {
                throw InputError{store->location() + ": " + (position == zpg::Store::kAllFingers
                                                     ? "no subject '" + subject + "'"
                                                     : "'" + subject + "' has no " + zpg::fingerName(position) +
                                                           " finger enrolled")};
            }
        }
        const std::vector<zpcli::WindowExtraction> t = probeWindows(probe, dpi, windows);
        std::vector<Template> templates;
        for (const zpcli::WindowExtraction& w : t) templates.push_back(w.templ);
        zpg::VerifyResult r;
        {
            py::gil_scoped_release release;
            r = zpg::verify(templates, enrolled, level);
        }
        return py::dict(py::arg("subject") = subject, py::arg("finger") = zpg::fingerName(r.finger),
                        py::arg("slot") = r.slot, py::arg("window") = r.window, py::arg("templates") = r.compared,
                        py::arg("probe_windows") = zpcli::windowNumbers(t), py::arg("probe_window") = t[r.probe].window,
                        py::arg("score") = r.score, py::arg("level") = level,
                        py::arg("threshold") = zpcli::levelThreshold(level), py::arg("match") = r.match,
                        py::arg("damaged") = damagedList(damaged));
    }

    py::dict identify(const py::list& probes, const py::list& fingers, std::size_t top, std::size_t shortList,
                      int level, unsigned threads, int dpi, bool skipDamaged, int windows) {
        checkLevel(level);
        checkDpi(dpi);
        checkWindows(windows);
        if (probes.empty()) throw py::value_error("identify needs at least one probe");
        if (!fingers.empty() && fingers.size() != probes.size())
            throw InputError{"--finger given " + std::to_string(fingers.size()) + " times for " +
                             std::to_string(probes.size()) + " images: give one per image, in order"};
        if (top < 1) throw py::value_error("top must be at least 1");
        std::vector<int> positions;
        for (std::size_t i = 0; i < probes.size(); ++i)
            positions.push_back(fingers.empty() ? zpg::kUnknownFinger : fingerOf(fingers[i], zpg::kUnknownFinger));
        auto store = openStore(path_, zpg::Access::Read);
        // Each probe's windows are probes of one capture: its best counts.
        std::vector<zpg::Probe> list;
        py::list probeList;
        for (std::size_t i = 0; i < probes.size(); ++i) {
            const std::string label =
                py::isinstance<py::str>(probes[i]) ? probes[i].cast<std::string>() : "probe " + std::to_string(i + 1);
            const std::vector<zpcli::WindowExtraction> windowsOf = probeWindows(probes[i], dpi, windows);
            zpcli::addCaptureProbes(list, windowsOf, positions[i], label, static_cast<int>(i));
            probeList.append(py::dict(py::arg("image") = label, py::arg("finger") = zpg::fingerName(positions[i]),
                                      py::arg("windows") = zpcli::windowNumbers(windowsOf)));
        }
        zpg::SearchOptions options;
        options.top = top;
        options.shortList = shortList;
        options.level = level;
        options.threads = threads;
        zpg::Snapshot gallery;
        zpg::SearchResult r;
        {
            py::gil_scoped_release release;
            r = zpg::identify(*store, list, options, gallery);
            if (!skipDamaged) zpcli::refuseDamaged(store->location(), gallery.damaged, false);
            if (r.templates == 0) throw InputError{store->location() + ": the gallery is empty"};
        }
        py::list candidates;
        for (std::size_t rank = 0; rank < r.candidates.size(); ++rank) {
            const zpg::SubjectCandidate& c = r.candidates[rank];
            py::list per;
            for (const std::size_t p : zpg::bestWindows(list, c)) {
                const zpg::ProbeScore& s = c.probes[p];
                if (s.score < 0) per.append(py::none());
                else
                    per.append(py::dict(py::arg("finger") = zpg::fingerName(s.finger), py::arg("slot") = s.slot,
                                        py::arg("quick_score") = s.quick, py::arg("score") = s.score,
                                        py::arg("match") = s.match, py::arg("probe_window") = list[p].window));
            }
            candidates.append(py::dict(py::arg("rank") = rank + 1, py::arg("subject") = c.subject,
                                       py::arg("score") = c.total, py::arg("match") = c.match, py::arg("probes") = per));
        }
        return py::dict(py::arg("probes") = probeList, py::arg("subjects") = r.subjects,
                        py::arg("fingers") = r.fingers,
                        py::arg("templates") = r.templates, py::arg("damaged") = damagedList(gallery.damaged),
                        py::arg("level") = level, py::arg("threshold") = zpcli::levelThreshold(level),
                        py::arg("short_list") = r.shortList, py::arg("candidates") = candidates);
    }

    py::dict rows() {
        std::vector<zpg::DamagedRow> damaged;
        std::vector<zpg::StoredTemplate> rows;
        {
            auto store = openStore(path_, zpg::Access::Read);
            py::gil_scoped_release release;
            rows = store->rows(damaged);
        }
        py::list entries;
        for (const zpg::StoredTemplate& r : rows)
            entries.append(py::dict(py::arg("subject") = r.subject, py::arg("finger") = zpg::fingerName(r.finger),
                                    py::arg("slot") = r.slot, py::arg("window") = r.window,
                                    py::arg("minutiae") = zpg::templateCount(r.templ),
                                    py::arg("quality") = zpg::templateQuality(r.templ),
                                    py::arg("image") = r.impression, py::arg("enrolled_at") = r.enrolled,
                                    py::arg("template") = bytesOf(r.templ)));
        return py::dict(py::arg("entries") = entries, py::arg("damaged") = damagedList(damaged));
    }

    std::size_t remove(const std::string& subject, const py::object& finger) {
        const int position = fingerOf(finger, zpg::Store::kAllFingers);
        auto store = openStore(path_, zpg::Access::Modify);
        py::gil_scoped_release release;
        const std::size_t removed = store->remove(subject, position);
        const std::string what = position == zpg::Store::kAllFingers
                                     ? "subject '" + subject + "'"
                                     : subject + "'s " + zpg::fingerName(position) + " finger";
        if (removed == 0) throw InputError{path_ + ": no " + what + " enrolled"};
        return removed;
    }

  private:
    std::string path_;
};

py::tuple loadImage(const std::string& path, int dpi) {
    checkDpi(dpi);
    std::vector<std::uint8_t> sensor;
    std::string note;
    std::string error;
    bool ok = false;
    {
        py::gil_scoped_release release;
        ok = zpcli::loadSensorImage(path, dpi, sensor, note, error);
    }
    if (!ok) throw InputError{error};
    return py::make_tuple(arrayOf(sensor, ZP_IMAGE_HEIGHT, ZP_IMAGE_WIDTH), note);
}

py::tuple detect(const py::array& image, int threshold) {
    const std::vector<std::uint8_t> pixels = sensorImageOf(image);
    zpcli::Detection d;
    bool finger = false;
    {
        py::gil_scoped_release release;
        d = zpcli::detectFinger(pixels);
        finger = ZPFingerDetect(pixels.data(), threshold) == 1;
    }
    if (!d.found) return py::make_tuple(finger, 0, py::none(), py::none());
    return py::make_tuple(finger, d.desc.quality, py::make_tuple(d.desc.centreX, d.desc.centreY),
                          py::make_tuple(d.desc.left, d.desc.right, d.desc.top, d.desc.bottom));
}

// (result code, template bytes or None, skeleton picture or None)
py::tuple extract(const py::array& image, int threshold, int minYield) {
    const std::vector<std::uint8_t> pixels = sensorImageOf(image);
    zpcli::Extraction e;
    {
        py::gil_scoped_release release;
        e = zpcli::extract(pixels, threshold, minYield);
    }
    const py::object templ = e.result == ZP_EXTRACT_OK ? py::object(bytesOf(e.templ)) : py::none();
    const py::object skeleton = e.result != ZP_EXTRACT_NO_FINGER
                                    ? py::object(arrayOf(zpcli::skeletonPicture(e), zp::kWindowHeight, zp::kWindowWidth))
                                    : py::none();
    return py::make_tuple(e.result, templ, skeleton);
}

// (window 0's ZPFingerExtract code, [(window, template bytes, (x, y, width,
// height))]) of a capture's windows: a path (read and resampled as
// load_image reads it) or a grey uint8 array of any size at 500 dpi.
py::tuple extractWindows(const py::object& image, int windows, int dpi) {
    checkDpi(dpi);
    checkWindows(windows);
    std::vector<zpcli::CaptureWindow> fitted;
    if (py::isinstance<py::array>(image)) {
        const auto a = image.cast<py::array>();
        checkUint8(a, "the image");
        if (a.ndim() != 2 || a.shape(0) < 8 || a.shape(1) < 8)
            throw py::value_error("the image must be a 2-d array of at least 8 x 8 pixels");
        const auto c = py::array_t<std::uint8_t, py::array::c_style>::ensure(a);
        zpcli::GreyImage grey;
        grey.height = static_cast<std::int32_t>(c.shape(0));
        grey.width = static_cast<std::int32_t>(c.shape(1));
        grey.pixels.assign(c.data(), c.data() + c.size());
        std::string note;
        py::gil_scoped_release release;
        fitted = zpcli::fitWindows(grey, windows, note);
    } else {
        const std::string path = py::str(image).cast<std::string>();
        std::string note;
        std::string error;
        bool ok = false;
        {
            py::gil_scoped_release release;
            ok = zpcli::loadSensorWindows(path, dpi, windows, fitted, note, error);
        }
        if (!ok) throw InputError{error};
    }
    std::vector<zpcli::WindowExtraction> made;
    std::int32_t centred = 0;
    {
        py::gil_scoped_release release;
        made = zpcli::extractWindows(fitted, centred, true);
    }
    py::list out;
    for (const zpcli::WindowExtraction& w : made)
        out.append(py::make_tuple(w.window, bytesOf(w.templ),
                                  py::make_tuple(w.rect.x, w.rect.y, w.rect.width, w.rect.height)));
    return py::make_tuple(centred, out);
}

py::array_t<std::int32_t> minutiae(const py::bytes& data) {
    const std::vector<zpcli::PixelMinutia> list = zpcli::templateMinutiae(templateOf(data));
    py::array_t<std::int32_t> out({static_cast<py::ssize_t>(list.size()), py::ssize_t{4}});
    auto v = out.mutable_unchecked<2>();
    for (std::size_t i = 0; i < list.size(); ++i) {
        const auto k = static_cast<py::ssize_t>(i);
        v(k, 0) = list[i].x;
        v(k, 1) = list[i].y;
        v(k, 2) = list[i].direction;
        v(k, 3) = list[i].type;
    }
    return out;
}

bool match(const py::bytes& a, const py::bytes& b, int level) {
    const Template first = templateOf(a);
    const Template second = templateOf(b);
    py::gil_scoped_release release;
    zpg::Workspace ws;
    return ZPMatch(first.data(), second.data(), ws.data(), level) == 1;
}

int score(const py::bytes& a, const py::bytes& b) {
    const Template first = templateOf(a);
    const Template second = templateOf(b);
    py::gil_scoped_release release;
    zpg::Workspace ws;
    return zpg::matchScore(first, second, ws);
}

py::tuple merge(const py::list& templates) {
    if (templates.size() < 2) throw py::value_error("merge needs at least two templates");
    std::vector<std::uint8_t> all;
    for (const py::handle t : templates) {
        const Template one = templateOf(t.cast<py::bytes>());
        all.insert(all.end(), one.begin(), one.end());
    }
    Template best{};
    int confirmed = 0;
    {
        py::gil_scoped_release release;
        zpg::Workspace ws;
        confirmed = ZPFingerMerge(all.data(), static_cast<std::int32_t>(templates.size()), best.data(), ws.data());
    }
    return py::make_tuple(bytesOf(best), confirmed == 1);
}

// Generated fingers as `zpapi synth` makes them: finger ids from 101, the
// same seeds, the same pixels.
py::tuple synth(int fingers, int impressions, std::uint64_t seed, const py::object& patternClass) {
    namespace zs = zp::synth;
    constexpr int kFirstFinger = 101;
    constexpr int kMaxFingers = 9899;
    constexpr int kMaxImpressions = 99;
    if (fingers < 1 || fingers > kMaxFingers)
        throw py::value_error("fingers must be 1 to " + std::to_string(kMaxFingers));
    if (impressions < 1 || impressions > kMaxImpressions)
        throw py::value_error("impressions must be 1 to " + std::to_string(kMaxImpressions));
    std::optional<zs::PatternClass> fixed;
    if (!patternClass.is_none()) {
        const std::string name = patternClass.cast<std::string>();
        const zs::PatternClass all[] = {zs::PatternClass::Arch, zs::PatternClass::TentedArch, zs::PatternClass::LeftLoop,
                                        zs::PatternClass::RightLoop, zs::PatternClass::Whorl};
        for (zs::PatternClass pc : all) {
            std::string option(zs::patternClassName(pc));
            std::replace(option.begin(), option.end(), ' ', '-');
            if (name == option || name == zs::patternClassName(pc)) fixed = pc;
        }
        if (!fixed) throw py::value_error("unknown pattern class '" + name + "'");
    }
    const std::size_t count = static_cast<std::size_t>(fingers) * static_cast<std::size_t>(impressions);
    py::array_t<std::uint8_t> images({static_cast<py::ssize_t>(fingers), static_cast<py::ssize_t>(impressions),
                                      py::ssize_t{zs::kImpressionHeight}, py::ssize_t{zs::kImpressionWidth}});
    std::uint8_t* pixels = images.mutable_data();
    std::vector<zs::Impression> made(count);
    std::vector<zs::PatternClass> classes(static_cast<std::size_t>(fingers));
    {
        py::gil_scoped_release release;
        std::atomic<int> next{0};
        auto work = [&] {
            for (int f = next++; f < fingers; f = next++) {
                const std::uint64_t fs = zs::fingerSeed(seed, kFirstFinger + f);
                const zs::MasterFingerprint master = fixed ? zs::makeMaster(fs, *fixed) : zs::makeMaster(fs);
                classes[static_cast<std::size_t>(f)] = master.patternClass;
                for (int k = 1; k <= impressions; ++k) {
                    const std::size_t at = static_cast<std::size_t>(f) * impressions + static_cast<std::size_t>(k - 1);
                    made[at] = zs::makeImpression(master, zs::impressionSeed(fs, k));
                    std::copy(made[at].pixels.begin(), made[at].pixels.end(), pixels + at * made[at].pixels.size());
                    made[at].pixels.clear();
                    made[at].contact.clear();
                }
            }
        };
        const unsigned threads = std::max(1U, std::min<unsigned>(std::thread::hardware_concurrency(), fingers));
        std::vector<std::thread> pool;
        for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
        work();
        for (std::thread& t : pool) t.join();
    }
    py::list truth;
    for (int f = 0; f < fingers; ++f) {
        for (int k = 1; k <= impressions; ++k) {
            const zs::Impression& imp = made[static_cast<std::size_t>(f) * impressions + static_cast<std::size_t>(k - 1)];
            py::array_t<double> points({static_cast<py::ssize_t>(imp.minutiae.size()), py::ssize_t{4}});
            auto v = points.mutable_unchecked<2>();
            for (std::size_t i = 0; i < imp.minutiae.size(); ++i) {
                const auto r = static_cast<py::ssize_t>(i);
                v(r, 0) = imp.minutiae[i].x;
                v(r, 1) = imp.minutiae[i].y;
                v(r, 2) = imp.minutiae[i].direction;
                v(r, 3) = static_cast<double>(imp.minutiae[i].type);
            }
            py::list singular;
            for (const zs::SingularPoint& p : imp.singularPoints)
                singular.append(py::dict(py::arg("kind") = p.kind == zs::SingularKind::Core ? "core" : "delta",
                                         py::arg("x") = p.x, py::arg("y") = p.y));
            truth.append(py::dict(py::arg("finger") = kFirstFinger + f, py::arg("impression") = k,
                                  py::arg("class") = std::string(zs::patternClassName(classes[static_cast<std::size_t>(f)])),
                                  py::arg("minutiae") = points, py::arg("singular_points") = singular));
        }
    }
    return py::make_tuple(images, truth);
}

}  // namespace

PYBIND11_MODULE(_zpapi, m) {
    m.doc() = "ZPAPI fingerprint recognition: the library, the gallery and the tool's readers and writers";
    static py::exception<zpg::Error> error(m, "Error");
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const zpg::Error& e) {
            PyErr_SetString(error.ptr(), e.message.c_str());
        }
    });
    m.attr("TEMPLATE_SIZE") = ZP_TEMPLATE_SIZE;
    m.attr("IMAGE_WIDTH") = ZP_IMAGE_WIDTH;
    m.attr("IMAGE_HEIGHT") = ZP_IMAGE_HEIGHT;
    m.attr("WINDOW_WIDTH") = zp::kWindowWidth;
    m.attr("WINDOW_HEIGHT") = zp::kWindowHeight;

    m.def("version", [] {
        char text[ZP_VERSION_SIZE];
        ZPVersion(text);
        return std::string(text);
    });
    m.def("level_threshold", &zpcli::levelThreshold, py::arg("level"));
    m.def("load_image", &loadImage, py::arg("path"), py::arg("dpi") = 500);
    m.def("detect", &detect, py::arg("image"), py::arg("threshold") = 0);
    m.def("extract", &extract, py::arg("image"), py::arg("threshold") = 0, py::arg("min_yield") = 0);
    m.def("extract_result_text", &zpcli::extractResultText, py::arg("code"));
    m.def("template_rejection", [](const py::bytes& t) { return zpg::templateRejection(templateOf(t)); });
    m.def("template_header", [](const py::bytes& b) {
        const Template t = templateOf(b);
        return py::make_tuple(zpg::templateCount(t), zpg::templateYield(t), zpg::templateQuality(t));
    });
    m.def("minutiae", &minutiae);
    m.def("extract_windows", &extractWindows, py::arg("image"), py::arg("windows"), py::arg("dpi") = 500);
    m.attr("MAX_WINDOWS") = zpcli::kMaxWindows;
    m.attr("DEFAULT_VERIFY_WINDOWS") = zpcli::kDefaultVerifyWindows;
    m.attr("DEFAULT_IDENTIFY_WINDOWS") = zpcli::kDefaultIdentifyWindows;
    m.attr("MAX_TEMPLATES_PER_FINGER") = zpg::kMaxTemplatesPerFinger;
    m.def("to_iso19794_2", [](const py::bytes& t) {
        const std::vector<std::uint8_t> r = zpcli::toIso19794_2(templateOf(t));
        return bytesOf(r.data(), r.size());
    });
    m.def("to_ansi378", [](const py::bytes& t) {
        const std::vector<std::uint8_t> r = zpcli::toAnsi378(templateOf(t));
        return bytesOf(r.data(), r.size());
    });
    m.def("to_xyt", [](const py::bytes& t) { return zpcli::toXyt(templateOf(t)); });
    m.def("read_template", [](const std::string& path) { return bytesOf(zpcli::readTemplateFile(path)); });
    m.def("write_template", [](const std::string& path, const py::bytes& t) {
        const Template templ = templateOf(t);
        py::gil_scoped_release release;
        zpcli::writeTemplateFile(path, templ);
    });
    m.def("match", &match, py::arg("a"), py::arg("b"), py::arg("level") = 3);
    m.def("score", &score, py::arg("a"), py::arg("b"));
    m.def("merge", &merge, py::arg("templates"));
    m.def("synth", &synth, py::arg("fingers"), py::arg("impressions"), py::arg("seed"),
          py::arg("pattern_class") = py::none());

    py::class_<QuickMatcher>(m, "QuickMatcher")
        .def(py::init<const py::bytes&>(), py::arg("probe"))
        .def("scores", &QuickMatcher::scores, py::arg("templates"), py::arg("threads") = 0);

    py::class_<Gallery>(m, "Gallery")
        .def(py::init<std::string>(), py::arg("path"))
        .def_property_readonly("path", &Gallery::path)
        .def("enrol", &Gallery::enrol, py::arg("subject"), py::arg("impressions"), py::arg("finger"), py::arg("keep"),
             py::arg("existing"), py::arg("check_duplicates"), py::arg("level"), py::arg("dpi"), py::arg("windows"))
        .def("verify", &Gallery::verify, py::arg("subject"), py::arg("probe"), py::arg("finger"), py::arg("level"),
             py::arg("dpi"), py::arg("skip_damaged"), py::arg("windows"))
        .def("identify", &Gallery::identify, py::arg("probes"), py::arg("fingers"), py::arg("top"),
             py::arg("short_list"), py::arg("level"), py::arg("threads"), py::arg("dpi"), py::arg("skip_damaged"),
             py::arg("windows"))
        .def("rows", &Gallery::rows)
        .def("remove", &Gallery::remove, py::arg("subject"), py::arg("finger"));
}
