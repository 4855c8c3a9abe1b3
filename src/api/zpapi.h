/*
 * zpapi.h -- public interface of the ZPAPI fingerprint recognition library.
 *
 * The library turns a 256 x 384 grey image (8 bits, 500 dpi, row by row, no
 * padding, origin top-left) into a 256-byte minutiae template, and compares
 * templates 1:1 at five security levels, merges enrolment templates and
 * scores templates against one loaded into a workspace for 1:N search.
 *
 * Ownership: every buffer belongs to the caller. The library keeps no state
 * between calls, never allocates on the heap, writes no globals and starts
 * no threads. Calls on different buffers may run on any number of threads at
 * once; calls that share a workspace, image or template array must not
 * overlap. No export checks its pointers: every buffer must be at least the
 * size given below.
 */
#ifndef ZPAPI_H
#define ZPAPI_H

#include <stdint.h>

#define ZPAPI_VERSION_MAJOR 1
#define ZPAPI_VERSION_MINOR 0
#define ZPAPI_VERSION_PATCH 0
#define ZPAPI_VERSION_STRING "1.0.0"

/* Image: 8-bit grey, row by row, width 256 (the row length), height 384. */
#define ZP_IMAGE_WIDTH 256
#define ZP_IMAGE_HEIGHT 384
#define ZP_IMAGE_SIZE (ZP_IMAGE_WIDTH * ZP_IMAGE_HEIGHT)
#define ZP_IMAGE_DPI 500
/* Feature template: the record hosts store. */
#define ZP_TEMPLATE_SIZE 256
/* Caller-owned scratch memory of the comparison functions. */
#define ZP_WORKSPACE_SIZE 0x18000
/* Buffer for ZPVersion. */
#define ZP_VERSION_SIZE 100

/* Results of ZPFingerExtract. */
#define ZP_EXTRACT_OK 0
#define ZP_EXTRACT_NO_FINGER 1
#define ZP_EXTRACT_NO_TEMPLATE 2
#define ZP_EXTRACT_BUFFER_TOO_SHORT 3

#if defined(_WIN32)
#define ZPAPI_EXPORT __declspec(dllexport)
#elif defined(__GNUC__)
#define ZPAPI_EXPORT __attribute__((visibility("default")))
#else
#define ZPAPI_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Writes exactly ZP_VERSION_SIZE bytes into version: the zero-terminated
 * version text, then zeros up to the last byte. */
ZPAPI_EXPORT void ZPVersion(char* version);

/* Reads image (ZP_IMAGE_SIZE bytes, left unchanged) and returns 1 when a
 * finger covers it with a quality score of at least threshold (0..100; the
 * highest reachable score is 89), else 0. */
ZPAPI_EXPORT int32_t ZPFingerDetect(const uint8_t* image, int32_t threshold);

/* Extracts the template of image into templ (ZP_TEMPLATE_SIZE bytes).
 * image (ZP_IMAGE_SIZE bytes) is work memory: unless the result is
 * ZP_EXTRACT_NO_FINGER it is overwritten, and after ZP_EXTRACT_OK it holds
 * the marked skeleton of the 232 x 280 working window. threshold is the least
 * acceptable quality score, min_yield the least acceptable candidate yield.
 * Returns one of the ZP_EXTRACT_ codes; only ZP_EXTRACT_OK means a template
 * was written. */
ZPAPI_EXPORT int32_t ZPFingerExtract(uint8_t* image, uint8_t* templ, int32_t threshold,
                                     int32_t min_yield);

/* Enrolment: templates points at count templates of ZP_TEMPLATE_SIZE bytes,
 * which are reordered in place by quality, best first; the best is copied to
 * best (ZP_TEMPLATE_SIZE bytes). Returns 1 when the best template is good
 * enough and the runner-up matches it, else 0. workspace: ZP_WORKSPACE_SIZE
 * bytes of scratch. */
ZPAPI_EXPORT int32_t ZPFingerMerge(uint8_t* templates, int32_t count, uint8_t* best,
                                   uint8_t* workspace);

/* Loads templ into workspace (ZP_WORKSPACE_SIZE bytes) for later
 * ZPQuickMatch calls. Returns 1 when loaded, 0 when the template is rejected
 * (the workspace is then unchanged). */
ZPAPI_EXPORT int32_t ZPLoadFeature(const uint8_t* templ, uint8_t* workspace);

/* Scores templ against the template last loaded into workspace by
 * ZPLoadFeature: 0 (no likeness or refused) to 100. The loaded template stays
 * valid for any number of calls, until ZPMatch or ZPFingerMerge reuse the
 * workspace. */
ZPAPI_EXPORT int32_t ZPQuickMatch(const uint8_t* templ, uint8_t* workspace);

/* Returns 1 when templates first and second come from the same finger at
 * security level 1 (most lenient) to 5 (strictest), else 0; other levels act
 * as level 3. workspace: ZP_WORKSPACE_SIZE bytes of scratch. */
ZPAPI_EXPORT int32_t ZPMatch(const uint8_t* first, const uint8_t* second, uint8_t* workspace,
                             int32_t level);

#ifdef __cplusplus
}
#endif

#endif /* ZPAPI_H */
