// SQL functions of the gallery's search: the short list's length, the
// re-scoring and fusion of a short list, and 1:1 verification against a
// subject's rows, each by the gallery's own code so that the answers are
// those of the embedded gallery.
#include <algorithm>
#include <vector>

#include "gallery/search.h"

#include "glue.h"

extern "C" {
#include "access/htup_details.h"
#include "catalog/pg_type.h"
#include "utils/array.h"
#include "utils/lsyscache.h"
}

extern "C" {
ZPPG_FUNCTION(zp_short_list_length);
ZPPG_FUNCTION(zp_finger_name);
ZPPG_FUNCTION(zp_max_keep);
ZPPG_FUNCTION(zp_rank_short_list);
ZPPG_FUNCTION(zp_verify_rows);
}

namespace {

using zppg::Failure;
using zppg::cxx;

// The elements of a one-dimensional array argument without NULLs.
struct Elements {
    Datum* values = nullptr;
    int count = 0;
};

Elements arrayArgument(FunctionCallInfo fcinfo, int argument, Oid type, const char* name) {
    ArrayType* array = PG_GETARG_ARRAYTYPE_P(argument);
    if (ARR_ELEMTYPE(array) != type)
        ereport(ERROR, (errcode(ERRCODE_DATATYPE_MISMATCH), errmsg("zpapi: %s has the wrong element type", name)));
    int16 length;
    bool byValue;
    char align;
    get_typlenbyvalalign(type, &length, &byValue, &align);
    Elements e;
    bool* nulls = nullptr;
    deconstruct_array(array, type, length, byValue, align, &e.values, &nulls, &e.count);
    for (int i = 0; i < e.count; ++i)
        if (nulls[i]) ereport(ERROR, (errcode(ERRCODE_NULL_VALUE_NOT_ALLOWED), errmsg("zpapi: %s holds a NULL", name)));
    return e;
}

void requireSameLength(const Elements& a, const Elements& b, const char* name) {
    if (a.count != b.count)
        ereport(ERROR, (errcode(ERRCODE_ARRAY_SUBSCRIPT_ERROR),
                        errmsg("zpapi: %s has %d elements where %d are expected", name, b.count, a.count)));
}

int32 positiveArgument(FunctionCallInfo fcinfo, int argument, const char* name, int32 least) {
    const int32 value = PG_GETARG_INT32(argument);
    if (value < least)
        ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE), errmsg("zpapi: %s must be at least %d", name, least)));
    return value;
}

// Template bytes of array element i, refused unless usable (the arrays are
// the caller's, not necessarily the gallery's column).
const std::uint8_t* templateElement(const Elements& templates, int i) {
    const std::uint8_t* bytes = zppg::templateBytes(DatumGetByteaPP(templates.values[i]), "template");
    zpg::Template t;
    std::memcpy(t.data(), bytes, ZP_TEMPLATE_SIZE);
    zppg::requireUsable(t, "template");
    return bytes;
}

// One answered subject: where its name lies in the input, and its scores.
struct Ranked {
    int row;  // an input row of the subject
    zpg::ProbeScore score;
    int total;
    bool match;
};

zpg::SearchOptions searchOptions(int32 top, int32 shortList, int32 level) {
    zpg::SearchOptions options;
    options.top = static_cast<std::size_t>(top);
    options.shortList = static_cast<std::size_t>(shortList);
    options.level = level;
    return options;
}

}  // namespace

extern "C" {

// Fingers short-listed for a search answering top subjects.
Datum zp_short_list_length(PG_FUNCTION_ARGS) {
    const int32 top = positiveArgument(fcinfo, 0, "top", 1);
    const int32 shortList = positiveArgument(fcinfo, 1, "short_list", 0);
    const std::size_t length = zpg::shortListLength(searchOptions(top, shortList, 3));
    PG_RETURN_INT32(static_cast<int32>(std::min<std::size_t>(length, PG_INT32_MAX)));
}

Datum zp_max_keep(PG_FUNCTION_ARGS) { PG_RETURN_INT32(zpg::kMaxTemplatesPerFinger); }

Datum zp_finger_name(PG_FUNCTION_ARGS) { PG_RETURN_TEXT_P(cstring_to_text(zpg::fingerName(PG_GETARG_INT32(0)))); }

// Re-scores a short list (its rows in short-list order, each finger's
// templates by slot) with the full match and ranks the subjects as the
// embedded gallery does.
// Arguments: probe, top, short_list, level, subjects, fingers, quick scores, templates.
Datum zp_rank_short_list(PG_FUNCTION_ARGS) {
    const zpg::Template probe = zppg::templateArgument(fcinfo, 0, "probe");
    zppg::requireUsable(probe, "probe");
    const int32 top = positiveArgument(fcinfo, 1, "top", 1);
    const int32 shortList = positiveArgument(fcinfo, 2, "short_list", 0);
    const int32 level = PG_GETARG_INT32(3);
    const Elements subjects = arrayArgument(fcinfo, 4, TEXTOID, "subjects");
    const Elements fingers = arrayArgument(fcinfo, 5, INT4OID, "fingers");
    const Elements quick = arrayArgument(fcinfo, 6, INT4OID, "quick scores");
    const Elements templates = arrayArgument(fcinfo, 7, BYTEAOID, "templates");
    requireSameLength(subjects, fingers, "fingers");
    requireSameLength(subjects, quick, "quick scores");
    requireSameLength(subjects, templates, "templates");
    const int rows = subjects.count;
    // Plain copies of the arguments, made before any C++ object lives.
    text** names = static_cast<text**>(palloc(sizeof(text*) * std::max(rows, 1)));
    const std::uint8_t** bytes = static_cast<const std::uint8_t**>(palloc(sizeof(std::uint8_t*) * std::max(rows, 1)));
    for (int i = 0; i < rows; ++i) {
        names[i] = DatumGetTextPP(subjects.values[i]);
        bytes[i] = templateElement(templates, i);
    }
    const int most = std::min(rows, top);
    Ranked* ranked = static_cast<Ranked*>(palloc0(sizeof(Ranked) * std::max(most, 1)));
    int answered = 0;

    Failure failure;
    const bool done = cxx(failure, [&] {
        zpg::Snapshot gallery;
        std::vector<zpg::ShortList> lists(1);
        std::vector<int> firstRow;  // per snapshot finger
        for (int i = 0; i < rows; ++i) {
            const std::string subject(VARDATA_ANY(names[i]), VARSIZE_ANY_EXHDR(names[i]));
            const int finger = DatumGetInt32(fingers.values[i]);
            const bool sameFinger = !gallery.fingers.empty() && gallery.fingers.back().subject == subject &&
                                    gallery.fingers.back().position == finger;
            if (!sameFinger) {
                const auto index = static_cast<std::uint32_t>(gallery.fingers.size());
                gallery.fingers.push_back({subject, finger, static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(i)});
                lists[0].push_back({DatumGetInt32(quick.values[i]), index});
                firstRow.push_back(i);
            }
            gallery.fingers.back().end = static_cast<std::uint32_t>(i + 1);
            gallery.fingerOf.push_back(static_cast<std::uint32_t>(gallery.fingers.size() - 1));
            zpg::Template& t = gallery.templates.emplace_back();
            std::memcpy(t.data(), bytes[i], ZP_TEMPLATE_SIZE);
        }
        const zpg::SearchResult result =
            zpg::rankShortLists(gallery, {zpg::Probe{probe, zpg::kUnknownFinger, {}}}, lists,
                                searchOptions(top, shortList, level));
        for (const zpg::SubjectCandidate& c : result.candidates) {
            if (answered == most) break;
            const zpg::ProbeScore& s = c.probes.front();
            const auto finger = std::find_if(gallery.fingers.begin(), gallery.fingers.end(), [&](const auto& f) {
                return f.subject == c.subject && f.position == s.finger;
            });
            ranked[answered++] = {firstRow[static_cast<std::size_t>(finger - gallery.fingers.begin())], s, c.total,
                                  c.match};
        }
    });
    if (!done) ZPPG_RAISE_FAILURE(failure);

    InitMaterializedSRF(fcinfo, 0);
    ReturnSetInfo* rsinfo = reinterpret_cast<ReturnSetInfo*>(fcinfo->resultinfo);
    for (int i = 0; i < answered; ++i) {
        const Ranked& r = ranked[i];
        Datum values[7] = {Int32GetDatum(i + 1),         PointerGetDatum(names[r.row]), Int32GetDatum(r.score.finger),
                           Int32GetDatum(r.score.slot),  Int32GetDatum(r.score.quick),  Int32GetDatum(r.total),
                           BoolGetDatum(r.match)};
        bool nulls[7] = {};
        tuplestore_putvalues(rsinfo->setResult, rsinfo->setDesc, values, nulls);
    }
    return static_cast<Datum>(0);
}

// 1:1 against the given rows of a subject: the best score decides, as the
// embedded gallery's verify.
// Arguments: probe, level, fingers, slots, templates.
Datum zp_verify_rows(PG_FUNCTION_ARGS) {
    const zpg::Template probe = zppg::templateArgument(fcinfo, 0, "probe");
    zppg::requireUsable(probe, "probe");
    const int32 level = PG_GETARG_INT32(1);
    const Elements fingers = arrayArgument(fcinfo, 2, INT4OID, "fingers");
    const Elements slots = arrayArgument(fcinfo, 3, INT4OID, "slots");
    const Elements templates = arrayArgument(fcinfo, 4, BYTEAOID, "templates");
    requireSameLength(fingers, slots, "slots");
    requireSameLength(fingers, templates, "templates");
    const int rows = fingers.count;
    const std::uint8_t** bytes = static_cast<const std::uint8_t**>(palloc(sizeof(std::uint8_t*) * std::max(rows, 1)));
    for (int i = 0; i < rows; ++i) bytes[i] = templateElement(templates, i);

    zpg::VerifyResult verdict;
    Failure failure;
    const bool done = cxx(failure, [&] {
        std::vector<zpg::StoredTemplate> enrolled(static_cast<std::size_t>(rows));
        for (int i = 0; i < rows; ++i) {
            zpg::StoredTemplate& t = enrolled[static_cast<std::size_t>(i)];
            t.finger = DatumGetInt32(fingers.values[i]);
            t.slot = DatumGetInt32(slots.values[i]);
            std::memcpy(t.templ.data(), bytes[i], ZP_TEMPLATE_SIZE);
        }
        verdict = zpg::verify(probe, enrolled, level);
    });
    if (!done) ZPPG_RAISE_FAILURE(failure);

    TupleDesc desc;
    if (get_call_result_type(fcinfo, nullptr, &desc) != TYPEFUNC_COMPOSITE)
        ereport(ERROR, (errcode(ERRCODE_FEATURE_NOT_SUPPORTED), errmsg("zp_verify_rows must return a record")));
    desc = BlessTupleDesc(desc);
    Datum values[5] = {Int32GetDatum(verdict.finger), Int32GetDatum(verdict.slot), Int32GetDatum(verdict.score),
                       BoolGetDatum(verdict.match), Int32GetDatum(static_cast<int32>(verdict.compared))};
    bool nulls[5] = {};
    PG_RETURN_DATUM(HeapTupleGetDatum(heap_form_tuple(desc, values, nulls)));
}

}  // extern "C"
