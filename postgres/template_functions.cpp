// SQL functions over single templates: the domain's check, the 1:1 match,
// the quick score against a probe loaded once per call site, the decoded
// header and minutiae, extraction from an image, and the row checksum.
#include <algorithm>

#include "minutiae/template_format.h"

#include "glue.h"

extern "C" {
#include "access/htup_details.h"
}

extern "C" {
PG_MODULE_MAGIC;

ZPPG_FUNCTION(zp_check_template);
ZPPG_FUNCTION(zp_template_rejection);
ZPPG_FUNCTION(zp_match_score);
ZPPG_FUNCTION(zp_match);
ZPPG_FUNCTION(zp_quick_score);
ZPPG_FUNCTION(zp_template_info);
ZPPG_FUNCTION(zp_minutiae);
ZPPG_FUNCTION(zp_extract);
ZPPG_FUNCTION(zp_row_checksum);
ZPPG_FUNCTION(zp_row_sound);
}

namespace {

using zppg::Failure;
using zppg::cxx;

// A match workspace per call site.
struct MatchState {
    std::uint8_t workspace[ZP_WORKSPACE_SIZE];
};

// The probe loaded into its workspace, kept while the probe stays the same.
struct QuickState {
    std::uint8_t workspace[ZP_WORKSPACE_SIZE];
    std::uint8_t probe[ZP_TEMPLATE_SIZE];
    bool loaded;
};

// Extraction overwrites its image: a copy per call site.
struct ExtractState {
    std::uint8_t image[ZP_IMAGE_SIZE];
};

const char* minutiaType(std::int32_t type) {
    return type == zp::kRidgeEnding ? "ending" : type == zp::kBifurcation ? "bifurcation" : "other";
}

}  // namespace

extern "C" {

// The domain's check: true, or an error naming why the bytes are no template.
Datum zp_check_template(PG_FUNCTION_ARGS) {
    bytea* value = PG_GETARG_BYTEA_PP(0);
    const std::size_t length = VARSIZE_ANY_EXHDR(value);
    if (length != ZP_TEMPLATE_SIZE)
        ereport(ERROR, (errcode(ERRCODE_CHECK_VIOLATION),
                        errmsg("invalid zptemplate: %zu bytes, a template has %d", length, ZP_TEMPLATE_SIZE)));
    zpg::Template t;
    std::memcpy(t.data(), VARDATA_ANY(value), ZP_TEMPLATE_SIZE);
    zppg::requireUsable(t, "");
    PG_RETURN_BOOL(true);
}

// Why the bytes are no usable template, or NULL when they are one.
Datum zp_template_rejection(PG_FUNCTION_ARGS) {
    bytea* value = PG_GETARG_BYTEA_PP(0);
    const std::size_t length = VARSIZE_ANY_EXHDR(value);
    char reason[256];
    if (length != ZP_TEMPLATE_SIZE) {
        snprintf(reason, sizeof reason, "%zu bytes, a template has %d", length, ZP_TEMPLATE_SIZE);
    } else {
        zpg::Template t;
        std::memcpy(t.data(), VARDATA_ANY(value), ZP_TEMPLATE_SIZE);
        zppg::rejectionOf(t, reason);
        if (reason[0] == '\0') PG_RETURN_NULL();
    }
    PG_RETURN_TEXT_P(cstring_to_text(reason));
}

Datum zp_match_score(PG_FUNCTION_ARGS) {
    const std::uint8_t* probe = zppg::templateBytes(PG_GETARG_BYTEA_PP(0), "probe");
    const std::uint8_t* candidate = zppg::templateBytes(PG_GETARG_BYTEA_PP(1), "candidate");
    MatchState& state = zppg::callSiteState<MatchState>(fcinfo);
    PG_RETURN_INT32(zpg::matchScore(probe, candidate, state.workspace));
}

Datum zp_match(PG_FUNCTION_ARGS) {
    const std::uint8_t* probe = zppg::templateBytes(PG_GETARG_BYTEA_PP(0), "probe");
    const std::uint8_t* candidate = zppg::templateBytes(PG_GETARG_BYTEA_PP(1), "candidate");
    const std::int32_t level = PG_GETARG_INT32(2);
    MatchState& state = zppg::callSiteState<MatchState>(fcinfo);
    PG_RETURN_BOOL(ZPMatch(probe, candidate, state.workspace, level) == 1);
}

// ZPQuickMatch of the candidate against the probe, loaded by ZPLoadFeature
// when the call site first sees it.
Datum zp_quick_score(PG_FUNCTION_ARGS) {
    const std::uint8_t* probe = zppg::templateBytes(PG_GETARG_BYTEA_PP(0), "probe");
    const std::uint8_t* candidate = zppg::templateBytes(PG_GETARG_BYTEA_PP(1), "candidate");
    QuickState& state = zppg::callSiteState<QuickState>(fcinfo);
    if (!state.loaded || std::memcmp(state.probe, probe, ZP_TEMPLATE_SIZE) != 0) {
        state.loaded = false;
        if (ZPLoadFeature(probe, state.workspace) != 1) {
            zpg::Template t;
            std::memcpy(t.data(), probe, ZP_TEMPLATE_SIZE);
            zppg::requireUsable(t, "probe");
            ereport(ERROR, (errcode(ERRCODE_CHECK_VIOLATION), errmsg("invalid zptemplate: probe: refused by the loader")));
        }
        std::memcpy(state.probe, probe, ZP_TEMPLATE_SIZE);
        state.loaded = true;
    }
    PG_RETURN_INT32(ZPQuickMatch(candidate, state.workspace));
}

// Header fields: minutiae, quality, candidate yield, stored width and height.
Datum zp_template_info(PG_FUNCTION_ARGS) {
    const zpg::Template t = zppg::templateArgument(fcinfo, 0, "template");
    zppg::requireUsable(t, "");
    TupleDesc desc;
    if (get_call_result_type(fcinfo, nullptr, &desc) != TYPEFUNC_COMPOSITE)
        ereport(ERROR, (errcode(ERRCODE_FEATURE_NOT_SUPPORTED), errmsg("zp_template_info must return a record")));
    desc = BlessTupleDesc(desc);
    Datum values[5] = {Int32GetDatum(zpg::templateCount(t)), Int32GetDatum(zpg::templateQuality(t)),
                       Int32GetDatum(zpg::templateYield(t)), Int32GetDatum(zp::storedWidth(t.data())),
                       Int32GetDatum(zp::storedHeight(t.data()))};
    bool nulls[5] = {};
    PG_RETURN_DATUM(HeapTupleGetDatum(heap_form_tuple(desc, values, nulls)));
}

// One row per minutia: index, x and y in pixels of the working window,
// direction in degrees, type.
Datum zp_minutiae(PG_FUNCTION_ARGS) {
    const zpg::Template t = zppg::templateArgument(fcinfo, 0, "template");
    zppg::requireUsable(t, "");
    InitMaterializedSRF(fcinfo, 0);
    ReturnSetInfo* rsinfo = reinterpret_cast<ReturnSetInfo*>(fcinfo->resultinfo);
    const std::int32_t count = std::min<std::int32_t>(zpg::templateCount(t), zp::kMaxMinutiae);
    for (std::int32_t i = 0; i < count; ++i) {
        const zp::TemplateMinutia m = zp::decodeMinutiaEntry(zp::readEntryWord(t.data(), i));
        Datum values[5] = {Int32GetDatum(i), Int32GetDatum(m.x * 2), Int32GetDatum(m.y * 2),
                           Int32GetDatum(m.direction), CStringGetTextDatum(minutiaType(m.type))};
        bool nulls[5] = {};
        tuplestore_putvalues(rsinfo->setResult, rsinfo->setDesc, values, nulls);
    }
    return static_cast<Datum>(0);
}

// ZPFingerExtract of a 256 x 384 raw 8-bit image.
Datum zp_extract(PG_FUNCTION_ARGS) {
    bytea* image = PG_GETARG_BYTEA_PP(0);
    const std::int32_t threshold = PG_GETARG_INT32(1);
    const std::int32_t minYield = PG_GETARG_INT32(2);
    if (VARSIZE_ANY_EXHDR(image) != ZP_IMAGE_SIZE)
        ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE),
                        errmsg("zp_extract: the image has %zu bytes; a %d x %d raw 8-bit image has %d",
                               static_cast<std::size_t>(VARSIZE_ANY_EXHDR(image)), ZP_IMAGE_WIDTH, ZP_IMAGE_HEIGHT,
                               ZP_IMAGE_SIZE)));
    ExtractState& state = zppg::callSiteState<ExtractState>(fcinfo);
    std::memcpy(state.image, VARDATA_ANY(image), ZP_IMAGE_SIZE);
    bytea* result = static_cast<bytea*>(palloc(VARHDRSZ + ZP_TEMPLATE_SIZE));
    SET_VARSIZE(result, VARHDRSZ + ZP_TEMPLATE_SIZE);
    std::memset(VARDATA(result), 0, ZP_TEMPLATE_SIZE);
    const std::int32_t code =
        ZPFingerExtract(state.image, reinterpret_cast<std::uint8_t*>(VARDATA(result)), threshold, minYield);
    if (code != ZP_EXTRACT_OK)
        ereport(ERROR, (errcode(ERRCODE_DATA_EXCEPTION),
                        errmsg("zp_extract: %s", code == ZP_EXTRACT_NO_FINGER     ? "no finger or quality too low"
                                                 : code == ZP_EXTRACT_NO_TEMPLATE ? "no usable template"
                                                                                  : "extraction failed")));
    PG_RETURN_BYTEA_P(result);
}

// The checksum every gallery backend stores with a row.
Datum zp_row_checksum(PG_FUNCTION_ARGS) {
    text* subject = PG_GETARG_TEXT_PP(0);
    const std::int32_t finger = PG_GETARG_INT32(1);
    const zpg::Template t = zppg::templateArgument(fcinfo, 2, "template");
    const std::string_view name(VARDATA_ANY(subject), VARSIZE_ANY_EXHDR(subject));
    PG_RETURN_INT64(zpg::rowChecksum(name, finger, t));
}

// Whether a stored row passes its checksum. A row that fails raises an
// error naming it, or answers false when damaged rows are to be skipped.
Datum zp_row_sound(PG_FUNCTION_ARGS) {
    text* subject = PG_GETARG_TEXT_PP(0);
    const std::int32_t finger = PG_GETARG_INT32(1);
    const std::int32_t slot = PG_GETARG_INT32(2);
    bytea* templ = PG_GETARG_BYTEA_PP(3);
    const std::int64_t checksum = PG_GETARG_INT64(4);
    const bool skipDamaged = PG_GETARG_BOOL(5);
    const std::string_view name(VARDATA_ANY(subject), VARSIZE_ANY_EXHDR(subject));
    bool sound = VARSIZE_ANY_EXHDR(templ) == ZP_TEMPLATE_SIZE;
    if (sound) {
        zpg::Template t;
        std::memcpy(t.data(), VARDATA_ANY(templ), ZP_TEMPLATE_SIZE);
        sound = zpg::rowChecksum(name, finger, t) == checksum;
    }
    if (sound || skipDamaged) PG_RETURN_BOOL(sound);
    char row[300];
    Failure failure;
    if (!cxx(failure, [&] {
            snprintf(row, sizeof row, "%s", zpg::rowName(std::string(name), finger, slot).c_str());
        }))
        ZPPG_RAISE_FAILURE(failure);
    ereport(ERROR, (errcode(ERRCODE_DATA_CORRUPTED), errmsg("%s: checksum mismatch", row),
                    errhint("skip_damaged => true searches the other rows")));
    PG_RETURN_BOOL(false);
}

}  // extern "C"
