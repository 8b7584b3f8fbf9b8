// A library preloaded into the engine's program (LD_PRELOAD) to make memory
// run out at a chosen moment: with WVC_FAIL_ALLOC_AT=N the N-th allocation of
// the C allocation calls the media libraries use (posix_memalign, memalign,
// aligned_alloc, calloc, realloc) fails, once. With WVC_FAIL_ALLOC_AT=0 nothing
// fails and the number of those allocations is written to standard error at
// exit ("allocations: <n>"), so a test can spread N over a whole run.
//
// Plain malloc (and so C++ operator new, which throws when it fails) is left
// alone: a C++ program cannot go on after an allocation failure it did not
// expect, and the libraries allocate through the calls above.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
void *__libc_memalign(size_t alignment, size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *ptr, size_t size);
}

namespace {

long fail_at = -1; // -1: not asked to do anything
std::atomic<long> allocations{0};

// True (with errno set as a real failure sets it) for the allocation that is
// to fail.
bool fail_this_one()
{
    if (fail_at < 0 || ++allocations != fail_at)
        return false;
    errno = ENOMEM;
    return true;
}

__attribute__((constructor)) void read_setting()
{
    const char *value = getenv("WVC_FAIL_ALLOC_AT");
    if (value && *value)
        fail_at = strtol(value, nullptr, 10);
}

__attribute__((destructor)) void report_count()
{
    if (fail_at == 0)
        fprintf(stderr, "allocations: %ld\n", allocations.load());
}

} // namespace

extern "C" {

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
