#include "HeapMeter.h"

#include <malloc.h>

#include <cerrno>
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define SCARLEX_NO_HEAP_METER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SCARLEX_NO_HEAP_METER 1
#endif
#endif

namespace {
long long inUse = 0;
long long peak = 0;
}  // namespace

#ifndef SCARLEX_NO_HEAP_METER

// glibc's own entry points; the definitions below replace malloc and its
// family for the whole process, which is single-threaded here.
extern "C" {
void* __libc_malloc(std::size_t);
void __libc_free(void*);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
}

namespace {
void Took(void* p) {
    if (!p) return;
    inUse += static_cast<long long>(malloc_usable_size(p));
    if (inUse > peak) peak = inUse;
}
void Gave(void* p) {
    if (p) inUse -= static_cast<long long>(malloc_usable_size(p));
}
}  // namespace

extern "C" {
void* malloc(std::size_t n) {
    void* p = __libc_malloc(n);
    Took(p);
    return p;
}
void free(void* p) {
    Gave(p);
    __libc_free(p);
}
void* calloc(std::size_t n, std::size_t size) {
    void* p = __libc_calloc(n, size);
    Took(p);
    return p;
}
void* realloc(void* p, std::size_t n) {
    const long long before = p ? static_cast<long long>(malloc_usable_size(p)) : 0;
    void* q = __libc_realloc(p, n);
    if (q || n == 0) {
        inUse -= before;
        Took(q);
    }
    return q;
}
void* memalign(std::size_t alignment, std::size_t n) {
    void* p = __libc_memalign(alignment, n);
    Took(p);
    return p;
}
void* aligned_alloc(std::size_t alignment, std::size_t n) { return memalign(alignment, n); }
int posix_memalign(void** out, std::size_t alignment, std::size_t n) {
    void* p = memalign(alignment, n);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}
}

#endif

namespace scarlex::bench {

bool HeapMeterActive() {
#ifdef SCARLEX_NO_HEAP_METER
    return false;
#else
    return true;
#endif
}
long long HeapInUse() { return inUse; }
void ResetHeapPeak() { peak = inUse; }
long long HeapPeak() { return peak; }

}  // namespace scarlex::bench
