// Confinement of the calling thread (confine.h): Landlock through its raw system
// calls (the C library has no wrappers) and a seccomp filter built with
// libseccomp. The Landlock rights of later ABIs than the system header knows are
// defined here; only the rights the running kernel reports are asked for, so one
// build confines as far as each kernel can.
#include "confine.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/landlock.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef LANDLOCK_ACCESS_FS_REFER
#define LANDLOCK_ACCESS_FS_REFER (1ULL << 13) // ABI 2
#endif
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14) // ABI 3
#endif
#ifndef LANDLOCK_ACCESS_FS_IOCTL_DEV
#define LANDLOCK_ACCESS_FS_IOCTL_DEV (1ULL << 15) // ABI 5
#endif
#ifndef LANDLOCK_ACCESS_NET_BIND_TCP
#define LANDLOCK_ACCESS_NET_BIND_TCP (1ULL << 0) // ABI 4
#endif
#ifndef LANDLOCK_ACCESS_NET_CONNECT_TCP
#define LANDLOCK_ACCESS_NET_CONNECT_TCP (1ULL << 1) // ABI 4
#endif

namespace {

// The ruleset's attributes as of ABI 4 (the system header may know only the first
// field). No port rule is ever added: every handled TCP right stays refused.
struct RulesetAttr {
    uint64_t handled_access_fs;
    uint64_t handled_access_net;
};

// ABI 1: executing, reading, writing, listing, removing and making anything.
constexpr uint64_t kFsRightsAbi1 = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1;

// The rights a rule on a file, not a folder, may hold.
constexpr uint64_t kFileRights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE |
                                 LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_TRUNCATE |
                                 LANDLOCK_ACCESS_FS_IOCTL_DEV;

constexpr uint64_t kReadFile = LANDLOCK_ACCESS_FS_READ_FILE;
constexpr uint64_t kReadWriteFile = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_WRITE_FILE;
constexpr uint64_t kReadTree = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
// The engine writes a hidden partial file, truncates and rewrites it (a faststart
// MP4 reads it back), then renames it to its final name with renameat2
// (RENAME_NOREPLACE) or link() and unlink() in the same folder, or removes it.
constexpr uint64_t kWriteTree = kReadTree | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_TRUNCATE |
                                LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_REMOVE_FILE;

// The file-system rights a kernel of Landlock ABI `abi` knows.
uint64_t fs_rights_of(int abi)
{
    uint64_t rights = kFsRightsAbi1;
    if (abi >= 2)
        rights |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3)
        rights |= LANDLOCK_ACCESS_FS_TRUNCATE;
    if (abi >= 5)
        rights |= LANDLOCK_ACCESS_FS_IOCTL_DEV;
    return rights;
}

// The running kernel's Landlock ABI; 0 when it has none (not built in, or turned
// off at boot), or a negative errno.
int landlock_abi()
{
    const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi >= 0)
        return int(abi);
    if (errno == ENOSYS || errno == EOPNOTSUPP)
        return 0;
    return -errno;
}

// Grants `access` beneath `path` (on it, for a file). A path that cannot be
// opened grants nothing, nor does `folder_only` a path that is no folder.
int allow_path(int ruleset, uint64_t handled, const std::string &path, uint64_t access, bool folder_only)
{
    if (path.empty())
        return 0;
    const int fd = open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return 0;
    int ret = 0;
    struct stat st;
    if (fstat(fd, &st) == 0 && (S_ISDIR(st.st_mode) || !folder_only)) {
        struct landlock_path_beneath_attr beneath = {};
        beneath.parent_fd = fd;
        beneath.allowed_access = access & handled & (S_ISDIR(st.st_mode) ? ~uint64_t(0) : kFileRights);
        if (beneath.allowed_access &&
            syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &beneath, 0) != 0)
            ret = -errno;
    }
    close(fd);
    return ret;
}

int add_rules(int ruleset, uint64_t handled, const ConfineRules &rules)
{
    int ret = 0;
    for (const std::string &tree : rules.read_trees)
        if (!ret)
            ret = allow_path(ruleset, handled, tree, kReadTree, true);
    for (const std::string &file : rules.read_files)
        if (!ret)
            ret = allow_path(ruleset, handled, file, kReadFile, false);
    for (const std::string &file : rules.read_write_files)
        if (!ret)
            ret = allow_path(ruleset, handled, file, kReadWriteFile, false);
    if (!ret)
        ret = allow_path(ruleset, handled, rules.write_folder, kWriteTree, true);
    return ret;
}

int apply_landlock(const ConfineRules &rules, int abi)
{
    RulesetAttr attr = {};
    attr.handled_access_fs = fs_rights_of(abi);
    if (abi >= 4)
        attr.handled_access_net = LANDLOCK_ACCESS_NET_BIND_TCP | LANDLOCK_ACCESS_NET_CONNECT_TCP;
    // A kernel before ABI 4 knows only the first field.
    const size_t size = abi >= 4 ? sizeof(attr) : sizeof(attr.handled_access_fs);
    const int ruleset = int(syscall(SYS_landlock_create_ruleset, &attr, size, 0));
    if (ruleset < 0)
        return -errno;
    int ret = add_rules(ruleset, attr.handled_access_fs, rules);
    if (!ret && syscall(SYS_landlock_restrict_self, ruleset, 0) != 0)
        ret = -errno;
    close(ruleset);
    return ret;
}

// Without CONFIG_SECCOMP the kernel does not know the question.
bool kernel_has_seccomp()
{
    return prctl(PR_GET_SECCOMP, 0, 0, 0, 0) >= 0 || errno != EINVAL;
}

// socket() fails with EACCES for every family but AF_UNIX (TCP, UDP, raw, netlink
// ...), on this thread only (no TSYNC). io_uring can make and connect sockets
// without socket(), so it is refused too: nothing here uses it.
int apply_socket_filter()
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (!filter)
        return -ENOMEM;
    // The kernel's own errors rather than libseccomp's -ECANCELED.
    int ret = seccomp_attr_set(filter, SCMP_FLTATR_API_SYSRAWRC, 1);
    const scmp_arg_cmp not_local = {0, SCMP_CMP_NE, AF_UNIX, 0};
    if (!ret)
        ret = seccomp_rule_add_array(filter, SCMP_ACT_ERRNO(EACCES), SCMP_SYS(socket), 1, &not_local);
    if (!ret)
        ret = seccomp_rule_add_array(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(io_uring_setup), 0, nullptr);
    if (!ret)
        ret = seccomp_load(filter);
    seccomp_release(filter);
    return ret < 0 ? ret : 0;
}

std::string applied_text(const ConfineApplied &applied)
{
    std::string text = applied.landlock_abi
                           ? "confined by Landlock ABI " + std::to_string(applied.landlock_abi)
                           : "the kernel has no Landlock: only the engine's folder guard limits the files read";
    return text + (applied.seccomp ? "; sockets other than local ones refused" : "; the kernel has no seccomp");
}

std::string failure_text(const char *what, int error)
{
    return std::string("could not confine the conversion (") + what + ": " + strerror(-error) + ")";
}

// Everything up to the last slash ("." without one, "/" for a name in the root).
std::string folder_of(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

ConfineRules system_confinement()
{
    ConfineRules rules;
    // A conversion itself opens only character-set modules below /usr; the rest
    // serves the libraries' other paths: settings and time zones, the processor
    // count (the C library reads /sys/devices/system/cpu/online) and the
    // process's own entries (the sanitizers read /proc/self/maps).
    rules.read_trees = {"/usr", "/lib", "/lib64", "/etc", "/sys/devices/system/cpu", "/proc/self"};
    // The C library's allocator asks once whether memory is overcommitted.
    rules.read_files = {"/dev/urandom", "/proc/sys/vm/overcommit_memory"};
    rules.read_write_files = {"/dev/null"};
    return rules;
}

ConfineRules conversion_confinement(const std::string &source, const std::string &output)
{
    ConfineRules rules = system_confinement();
    // A source that is a symbolic link reads from the folder it lies in and from
    // the one it leads to.
    std::string real;
    if (char *resolved = realpath(source.c_str(), nullptr)) {
        real = folder_of(resolved);
        free(resolved);
    }
    const std::string given = folder_of(source);
    if (!real.empty())
        rules.read_trees.push_back(real);
    if (real != given)
        rules.read_trees.push_back(given);
    rules.write_folder = folder_of(output);
    return rules;
}

int plat_confine_thread(const ConfineRules &rules, ConfineApplied *applied, std::string *note)
{
    ConfineApplied done;
    int ret = 0;
    const char *step = "no_new_privs";
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        ret = -errno;
    if (!ret) {
        step = "Landlock";
        const int abi = landlock_abi();
        ret = abi > 0 ? apply_landlock(rules, abi) : abi;
        done.landlock_abi = ret == 0 ? abi : 0;
    }
    if (!ret && kernel_has_seccomp()) {
        step = "seccomp";
        ret = apply_socket_filter();
        done.seccomp = ret == 0;
    }
    if (applied)
        *applied = done;
    if (note)
        *note = ret < 0 ? failure_text(step, ret) : applied_text(done);
    return ret < 0 ? ret : 0;
}
