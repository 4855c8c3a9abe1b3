// What the extension's C++ files share: the server's headers, templates
// read from SQL arguments, and the boundary that keeps C++ exceptions and the
// server's error jumps apart.
//
// The server reports errors with a longjmp that would skip C++ destructors,
// and a C++ exception must never unwind through the server's frames. So C++
// work runs inside cxx(), which catches everything and leaves the message in
// a plain buffer, and every server call that may raise an error (palloc,
// detoasting, ereport) runs outside such a scope, with no C++ object alive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

// The project's headers (and the C++ library's) come before the server's,
// whose port.h renames printf-family functions.
#include "gallery/records.h"

#define PGDLLEXPORT __attribute__((visibility("default")))
extern "C" {
#include "postgres.h"

#include "fmgr.h"
#include "funcapi.h"
#include "utils/builtins.h"
}

// Declares an SQL-callable function (exported: the build hides the rest).
#define ZPPG_FUNCTION(name)   \
    PG_FUNCTION_INFO_V1(name); \
    PGDLLEXPORT Datum name(PG_FUNCTION_ARGS)

namespace zppg {

// An error message carried out of a C++ scope.
struct Failure {
    char text[512] = {};
    bool failed = false;
    void set(const char* message) {
        snprintf(text, sizeof text, "%s", message);
        failed = true;
    }
};

// Runs work, which may throw; answers false with the message kept when it did.
template <class Work>
bool cxx(Failure& failure, Work&& work) noexcept {
    try {
        work();
        return true;
    } catch (const std::exception& e) {
        failure.set(e.what());
    } catch (...) {
        failure.set("unknown C++ error");
    }
    return false;
}

// Raises a C++ failure as an SQL error (outside any C++ scope).
#define ZPPG_RAISE_FAILURE(failure) \
    ereport(ERROR, (errcode(ERRCODE_INTERNAL_ERROR), errmsg("zpapi: %s", (failure).text)))

// The 256 bytes of a template argument; refuses another length (a value
// that reached the function without its domain's check).
inline const std::uint8_t* templateBytes(bytea* value, const char* what) {
    const std::size_t length = VARSIZE_ANY_EXHDR(value);
    if (length != ZP_TEMPLATE_SIZE)
        ereport(ERROR, (errcode(ERRCODE_INVALID_BINARY_REPRESENTATION),
                        errmsg("invalid zptemplate: %s has %zu bytes, a template has %d", what, length,
                               ZP_TEMPLATE_SIZE)));
    return reinterpret_cast<const std::uint8_t*>(VARDATA_ANY(value));
}

inline zpg::Template templateArgument(FunctionCallInfo fcinfo, int argument, const char* what) {
    bytea* value = PG_GETARG_BYTEA_PP(argument);
    zpg::Template t;
    std::memcpy(t.data(), templateBytes(value, what), ZP_TEMPLATE_SIZE);
    return t;
}

// Why t cannot be stored or compared, into reason ("" when it can).
inline void rejectionOf(const zpg::Template& t, char (&reason)[256]) {
    Failure failure;
    reason[0] = '\0';
    if (!cxx(failure, [&] { snprintf(reason, sizeof reason, "%s", zpg::templateRejection(t).c_str()); }))
        snprintf(reason, sizeof reason, "%s", failure.text);
}

// Refuses a template the gallery would not store, naming the reason.
inline void requireUsable(const zpg::Template& t, const char* what) {
    char reason[256];
    rejectionOf(t, reason);
    if (reason[0] != '\0')
        ereport(ERROR, (errcode(ERRCODE_CHECK_VIOLATION), errmsg("invalid zptemplate: %s%s%s", what,
                                                                  what[0] ? ": " : "", reason)));
}

// Per-call-site state in fn_extra, allocated once in the call's memory
// context (zeroed), so that a scan allocates nothing per row.
template <class State>
State& callSiteState(FunctionCallInfo fcinfo) {
    if (fcinfo->flinfo->fn_extra == nullptr)
        fcinfo->flinfo->fn_extra = MemoryContextAllocZero(fcinfo->flinfo->fn_mcxt, sizeof(State));
    return *static_cast<State*>(fcinfo->flinfo->fn_extra);
}

}  // namespace zppg
