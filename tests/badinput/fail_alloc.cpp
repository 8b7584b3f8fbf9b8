// A library preloaded into the engine's program (LD_PRELOAD) to make memory
// run out at a chosen moment: with WVC_FAIL_ALLOC_AT=N the N-th allocation of
// the C allocation calls the media libraries use (posix_memalign, memalign,
// aligned_alloc, calloc, realloc) fails, once. With WVC_FAIL_ALLOC_AT=0 nothing
// fails and the number of those allocations is written to standard error at
// exit ("allocations: <n>"), so a test can spread N over a whole run.
//
// With WVC_FAIL_ALLOC_PHASE=loop only allocations after the first output header
// was written count: the conversion itself, not the opening of the files.
//
// Plain malloc (and so C++ operator new, which throws when it fails) is left
// alone: a C++ program cannot go on after an allocation failure it did not
// expect, and the libraries allocate through the calls above.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

extern "C" {
void *__libc_memalign(size_t alignment, size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *ptr, size_t size);
}

namespace {

long fail_at = -1; // -1: not asked to do anything
std::atomic<long> allocations{0};
bool loop_only = false;
std::atomic<bool> header_written{false};

// True (with errno set as a real failure sets it) for the allocation that is
// to fail.
bool fail_this_one()
{
    if (fail_at < 0 || (loop_only && !header_written.load()) || ++allocations != fail_at)
        return false;
    errno = ENOMEM;
    return true;
}

__attribute__((constructor)) void read_setting()
{
    const char *value = getenv("WVC_FAIL_ALLOC_AT");
    if (value && *value)
        fail_at = strtol(value, nullptr, 10);
    const char *phase = getenv("WVC_FAIL_ALLOC_PHASE");
    loop_only = phase && !strcmp(phase, "loop");
}

__attribute__((destructor)) void report_count()
{
    if (fail_at == 0)
        fprintf(stderr, "allocations: %ld\n", allocations.load());
}

} // namespace

extern "C" {

struct AVFormatContext;
struct AVDictionary;

// The muxer's header is the last step before the loop.
int avformat_write_header(AVFormatContext *s, AVDictionary **options)
{
    using WriteHeader = int (*)(AVFormatContext *, AVDictionary **);
    static const auto real = reinterpret_cast<WriteHeader>(dlsym(RTLD_NEXT, "avformat_write_header"));
    const int ret = real(s, options);
    header_written = true;
    return ret;
}

int posix_memalign(void **out, size_t alignment, size_t size)
{
    if (fail_this_one())
        return ENOMEM;
    void *p = __libc_memalign(alignment, size);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}

void *memalign(size_t alignment, size_t size)
{
    return fail_this_one() ? nullptr : __libc_memalign(alignment, size);
}

void *aligned_alloc(size_t alignment, size_t size)
{
    return fail_this_one() ? nullptr : __libc_memalign(alignment, size);
}

void *calloc(size_t count, size_t size)
{
    return fail_this_one() ? nullptr : __libc_calloc(count, size);
}

void *realloc(void *ptr, size_t size)
{
    return fail_this_one() ? nullptr : __libc_realloc(ptr, size);
}

} // extern "C"
