// What the running kernel offers for confinement, and kernels a test cannot pick
// made for one thread (and what it starts or executes later): a seccomp filter of
// the test's own makes a system call fail as a kernel without it would, and
// Landlock layers stacked up to the kernel's limit make the next one fail.
// Header only; the program links libseccomp.
#pragma once

#include <cerrno>
#include <cstdint>
#include <linux/landlock.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

// The Landlock ABI of the running kernel, 0 for none.
inline int kernel_landlock_abi()
{
    const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi < 0 ? 0 : int(abi);
}

inline bool kernel_has_seccomp()
{
    return prctl(PR_GET_SECCOMP, 0, 0, 0, 0) >= 0 || errno != EINVAL;
}

// Makes `syscall_nr` (when its first argument is `*arg0`, if given) fail with
// `error` on this thread from now on.
inline bool fake_kernel_answer(int syscall_nr, int error, const long *arg0 = nullptr)
{
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    const scmp_arg_cmp first = {0, SCMP_CMP_EQ, arg0 ? uint64_t(*arg0) : 0, 0};
    const bool ok = filter &&
                    seccomp_rule_add_array(filter, SCMP_ACT_ERRNO(uint32_t(error)), syscall_nr, arg0 ? 1 : 0,
                                           &first) == 0 &&
                    seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}

// A kernel without Landlock, as far as this thread can tell.
inline bool fake_kernel_without_landlock()
{
    return fake_kernel_answer(SCMP_SYS(landlock_create_ruleset), ENOSYS);
}

// Stacks Landlock layers on this thread until the kernel takes no more (each
// refuses only making block devices); true when the limit was reached.
inline bool fill_landlock_layers()
{
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    struct landlock_ruleset_attr attr = {};
    attr.handled_access_fs = LANDLOCK_ACCESS_FS_MAKE_BLOCK;
    const int ruleset = int(syscall(SYS_landlock_create_ruleset, &attr, sizeof(attr), 0));
    if (ruleset < 0)
        return false;
    int layers = 0;
    while (layers < 64 && syscall(SYS_landlock_restrict_self, ruleset, 0) == 0)
        layers++;
    const bool full = errno == E2BIG;
    close(ruleset);
    return full;
}
