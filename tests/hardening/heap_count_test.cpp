// The library never allocates on the heap: this binary replaces malloc and
// its relatives, and operator new and delete, with counting versions, and
// every export of libzpapi.so runs between two readings of the counters.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "api/zpapi.h"
#include "hardening_support.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZP_SANITIZER_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZP_SANITIZER_ALLOCATOR 1
#endif

namespace {

std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};
std::atomic<long> gReleases{0};

void noteAllocation() {
    if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1);
}
void noteRelease(const void* p) {
    if (p != nullptr && gCounting.load(std::memory_order_relaxed)) gReleases.fetch_add(1);
}

}  // namespace

#ifdef ZP_SANITIZER_ALLOCATOR
// The sanitizers own malloc; they report every allocation to these hooks.
// Declared here: the interface header does not ship with every compiler.
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*malloc_hook)(const volatile void*, std::size_t), void (*free_hook)(const volatile void*));
namespace {
void mallocHook(const volatile void*, std::size_t) { noteAllocation(); }
void freeHook(const volatile void* p) { noteRelease(const_cast<const void*>(p)); }
[[maybe_unused]] const int kHooksInstalled = __sanitizer_install_malloc_and_free_hooks(mallocHook, freeHook);
}  // namespace
#else
// glibc's own entry points, under the names it keeps for interposers.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t size) {
    noteAllocation();
    return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) {
    noteAllocation();
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t size) {
    noteAllocation();
    return __libc_realloc(p, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
    noteAllocation();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
    noteAllocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    noteAllocation();
    *out = __libc_memalign(alignment, size);
    return *out != nullptr ? 0 : ENOMEM;
}
void free(void* p) {
    noteRelease(p);
    __libc_free(p);
}
}

// operator new and delete, all forms, on top of the counting malloc.
void* operator new(std::size_t size) {
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size == 0 ? 1 : size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size == 0 ? 1 : size); }
void* operator new(std::size_t size, std::align_val_t a) {
    if (void* p = aligned_alloc(static_cast<std::size_t>(a), size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t a) { return operator new(size, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
#endif

namespace {

using zphard::Bytes;

struct Counts {
    long allocations;
    long releases;
};

Counts countDuring(const std::function<void()>& call) {
    gAllocations = 0;
    gReleases = 0;
    gCounting = true;
    call();
    gCounting = false;
    return {gAllocations.load(), gReleases.load()};
}

// Images, templates and buffers made before any counting starts.
struct Inputs {
    std::vector<Bytes> images = zphard::syntheticImages(2, 2);
    std::vector<Bytes> templates;
    Bytes hostile = Bytes(ZP_TEMPLATE_SIZE);
    Bytes workspace = Bytes(ZP_WORKSPACE_SIZE, 0);
    Bytes imageBuffer = Bytes(ZP_IMAGE_SIZE);
    Bytes templ = Bytes(ZP_TEMPLATE_SIZE);
    Bytes group;
    Bytes best = Bytes(ZP_TEMPLATE_SIZE);
    char version[ZP_VERSION_SIZE] = {};

    Inputs() {
        for (const Bytes& image : images) templates.push_back(zphard::extract(image).templ);
        for (std::size_t k = 0; k < hostile.size(); ++k) hostile[k] = static_cast<std::uint8_t>(k * 37 + 11);
        hostile[0] = 2;  // the format marker, so the decoder reads further
        for (const Bytes& t : templates) group.insert(group.end(), t.begin(), t.end());
    }
};

Inputs& inputs() {
    static Inputs in;
    return in;
}

TEST(HeapCount, CountersSeeAllocationsInsideSharedLibraries) {
    // strdup allocates inside libc: proves calls from a shared library to
    // malloc reach the counters.
    const Counts c = countDuring([] {
        char* copy = strdup("counted");
        std::free(copy);
    });
    EXPECT_GE(c.allocations, 1);
    EXPECT_GE(c.releases, 1);
    const Counts n = countDuring([] {
        auto* p = new std::vector<int>(100);
        delete p;
    });
    EXPECT_GE(n.allocations, 1);
}

struct ExportCall {
    const char* name;
    std::function<void(Inputs&)> call;
};

const std::vector<ExportCall>& exportCalls() {
    static const std::vector<ExportCall> calls = {
        {"ZPVersion", [](Inputs& in) { ZPVersion(in.version); }},
        {"ZPFingerDetect on a finger",
         [](Inputs& in) { (void)ZPFingerDetect(in.images[0].data(), 0); }},
        {"ZPFingerDetect on a blank image",
         [](Inputs& in) {
             std::memset(in.imageBuffer.data(), 200, in.imageBuffer.size());
             (void)ZPFingerDetect(in.imageBuffer.data(), 0);
         }},
        {"ZPFingerExtract",
         [](Inputs& in) {
             for (const Bytes& image : in.images) {
                 std::memcpy(in.imageBuffer.data(), image.data(), image.size());
                 (void)ZPFingerExtract(in.imageBuffer.data(), in.templ.data(), 0, 0);
             }
         }},
        {"ZPFingerExtract on a blank image",
         [](Inputs& in) {
             std::memset(in.imageBuffer.data(), 255, in.imageBuffer.size());
             (void)ZPFingerExtract(in.imageBuffer.data(), in.templ.data(), 0, 0);
         }},
        {"ZPMatch",
         [](Inputs& in) {
             for (int level = 0; level <= 6; ++level) {
                 (void)ZPMatch(in.templates[0].data(), in.templates[1].data(), in.workspace.data(), level);
                 (void)ZPMatch(in.templates[0].data(), in.templates[2].data(), in.workspace.data(), level);
             }
         }},
        {"ZPMatch on a hostile template",
         [](Inputs& in) {
             (void)ZPMatch(in.hostile.data(), in.templates[0].data(), in.workspace.data(), 3);
         }},
        {"ZPFingerMerge",
         [](Inputs& in) {
             (void)ZPFingerMerge(in.group.data(), static_cast<std::int32_t>(in.templates.size()),
                                 in.best.data(), in.workspace.data());
         }},
        {"ZPLoadFeature and ZPQuickMatch",
         [](Inputs& in) {
             (void)ZPLoadFeature(in.templates[0].data(), in.workspace.data());
             for (const Bytes& t : in.templates) (void)ZPQuickMatch(t.data(), in.workspace.data());
             (void)ZPQuickMatch(in.hostile.data(), in.workspace.data());
             (void)ZPLoadFeature(in.hostile.data(), in.workspace.data());
         }},
    };
    return calls;
}

TEST(HeapCount, NoExportAllocates) {
    Inputs& in = inputs();
    for (const ExportCall& e : exportCalls()) {
        const Counts c = countDuring([&] { e.call(in); });
        EXPECT_EQ(c.allocations, 0) << e.name << " allocated";
        EXPECT_EQ(c.releases, 0) << e.name << " freed";
    }
}

}  // namespace
