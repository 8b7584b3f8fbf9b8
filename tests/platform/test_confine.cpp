// The kernel's confinement of a thread (platform/confine.h), each case in a forked
// child that confines itself and then tries what a conversion may and may not do:
// files in a recording folder A (read) and a destination folder B (write) next to
// folders whose names extend theirs, the system's files, the network, other
// threads, and kernels that lack Landlock or seccomp (made so with a seccomp
// filter of the test's own). Rows the running kernel cannot support are skipped.
#include "confine.h"
#include "kernel_fakes.h"
#include "loopback_listener.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// What a probe ended with: "0", or the errno's name.
std::string outcome(int error)
{
    return error ? strerrorname_np(error) : "0";
}

// 0 when `call` succeeded (returned >= 0), else errno.
int result(long call)
{
    return call < 0 ? errno : 0;
}

// Runs `body` in a forked child and returns the text it returned, or how the
// child died.
std::string in_child(const std::function<std::string()> &body)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "no pipe";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::string text = body();
        if (write(fds[1], text.data(), text.size()) < 0)
            _exit(2);
        _exit(0);
    }
    close(fds[1]);
    std::string text;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof(buf))) > 0;)
        text.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        return "child killed by signal " + std::to_string(WTERMSIG(status));
    return text;
}

// The folders of one case: A (the recording's), B (the destination), A-old and
// B-old beside them, and the folder all of them are in.
struct Tree {
    std::string root, a, b, a_old, b_old;
};

void write_text(const std::string &path, const std::string &text)
{
    std::ofstream(path) << text;
}

Tree make_tree(const std::string &name)
{
    Tree t;
    t.root = std::string(WVC_SCRATCH_ROOT) + "/platform/" + name;
    fs::remove_all(t.root);
    t.a = t.root + "/A";
    t.b = t.root + "/B";
    t.a_old = t.root + "/A-old";
    t.b_old = t.root + "/B-old";
    for (const std::string &dir : {t.a + "/sub", t.b + "/sub", t.a_old, t.b_old})
        fs::create_directories(dir);
    write_text(t.a + "/in.txt", "recording");
    write_text(t.a + "/sub/deep.txt", "recording");
    write_text(t.a_old + "/secret.txt", "someone else's");
    write_text(t.b + "/old.txt", "an earlier output");
    fs::create_symlink("../A-old/secret.txt", t.a + "/link.txt");
    return t;
}

// A (read) and B (write) beside the system's rules.
ConfineRules rules_for(const Tree &t)
{
    ConfineRules rules = system_confinement();
    rules.read_trees.push_back(t.a);
    rules.write_folder = t.b;
    return rules;
}

// Confines the calling thread; "" when done, else why not.
std::string confine(const ConfineRules &rules)
{
    std::string note;
    const int ret = plat_confine_thread(rules, nullptr, &note);
    return ret < 0 ? "confine: " + note : "";
}

int read_file(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    char c;
    const int error = read(fd, &c, 1) < 0 ? errno : 0;
    close(fd);
    return error;
}

int open_with(const std::string &path, int flags)
{
    const int fd = open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    close(fd);
    return 0;
}

int list_folder(const std::string &path)
{
    return open_with(path, O_RDONLY | O_DIRECTORY);
}

// Runs /bin/true from a child of the confined process: 0 when it ran.
int execute_true()
{
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/true", "true", nullptr);
        _exit(errno);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int bind_local_socket(const std::string &path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    const int error = result(bind(fd, (sockaddr *)&addr, sizeof(addr)));
    close(fd);
    return error;
}

// Any error at all, where the kernel may say EACCES or EXDEV.
constexpr int kSomeError = -1;

struct FileRow {
    const char *name;
    int min_abi; // the Landlock ABI that can refuse it
    int expected; // 0, an errno, or kSomeError
    std::function<int(const Tree &)> probe;
};

const FileRow kFileRows[] = {
    {"ReadInA", 1, 0, [](const Tree &t) { return read_file(t.a + "/in.txt"); }},
    {"ReadBelowA", 1, 0, [](const Tree &t) { return read_file(t.a + "/sub/deep.txt"); }},
    {"ListA", 1, 0, [](const Tree &t) { return list_folder(t.a); }},
    {"ReadInASiblingWhoseNameExtendsA", 1, EACCES, [](const Tree &t) { return read_file(t.a_old + "/secret.txt"); }},
    {"ListASiblingWhoseNameExtendsA", 1, EACCES, [](const Tree &t) { return list_folder(t.a_old); }},
    {"ReadThroughALinkInAToASibling", 1, EACCES, [](const Tree &t) { return read_file(t.a + "/link.txt"); }},
    {"ListTheFolderAboveA", 1, EACCES, [](const Tree &t) { return list_folder(t.root); }},
    {"WriteInA", 1, EACCES, [](const Tree &t) { return open_with(t.a + "/in.txt", O_WRONLY); }},
    {"CreateInA", 1, EACCES, [](const Tree &t) { return open_with(t.a + "/new.txt", O_WRONLY | O_CREAT); }},
    {"RemoveInA", 1, EACCES, [](const Tree &t) { return result(unlink((t.a + "/in.txt").c_str())); }},
    {"TruncateInA", 3, EACCES, [](const Tree &t) { return result(truncate((t.a + "/in.txt").c_str(), 0)); }},
    {"CreateInB", 1, 0, [](const Tree &t) { return open_with(t.b + "/.out.mp4.1.part", O_WRONLY | O_CREAT | O_EXCL); }},
    {"CreateBelowB", 1, 0, [](const Tree &t) { return open_with(t.b + "/sub/out.mp4", O_WRONLY | O_CREAT | O_EXCL); }},
    {"ReadAndWriteInB", 1, 0, [](const Tree &t) { return open_with(t.b + "/old.txt", O_RDWR); }},
    {"TruncateInB", 1, 0, [](const Tree &t) { return open_with(t.b + "/old.txt", O_WRONLY | O_TRUNC); }},
    {"RenameInBWithoutReplacing", 1, 0,
     [](const Tree &t) {
         return result(renameat2(AT_FDCWD, (t.b + "/old.txt").c_str(), AT_FDCWD, (t.b + "/new.txt").c_str(),
                                 RENAME_NOREPLACE));
     }},
    {"LinkInB", 1, 0, [](const Tree &t) { return result(link((t.b + "/old.txt").c_str(), (t.b + "/new.txt").c_str())); }},
    {"RemoveInB", 1, 0, [](const Tree &t) { return result(unlink((t.b + "/old.txt").c_str())); }},
    {"CreateInASiblingWhoseNameExtendsB", 1, EACCES,
     [](const Tree &t) { return open_with(t.b_old + "/out.mp4", O_WRONLY | O_CREAT); }},
    {"CreateInTheFolderAboveAAndB", 1, EACCES, [](const Tree &t) { return open_with(t.root + "/out.mp4", O_WRONLY | O_CREAT); }},
    {"MoveOutOfB", 1, kSomeError,
     [](const Tree &t) { return result(rename((t.b + "/old.txt").c_str(), (t.b_old + "/old.txt").c_str())); }},
    {"MakeAFolderInB", 1, EACCES, [](const Tree &t) { return result(mkdir((t.b + "/dir").c_str(), 0755)); }},
    {"MakeANamedPipeInB", 1, EACCES, [](const Tree &t) { return result(mkfifo((t.b + "/fifo").c_str(), 0644)); }},
    {"MakeASymbolicLinkInB", 1, EACCES, [](const Tree &t) { return result(symlink("old.txt", (t.b + "/link").c_str())); }},
    {"BindALocalSocketInB", 1, EACCES, [](const Tree &t) { return bind_local_socket(t.b + "/socket"); }},
    {"RemoveAFolderInB", 1, EACCES, [](const Tree &t) { return result(rmdir((t.b + "/sub").c_str())); }},
    {"ExecuteAProgram", 1, EACCES, [](const Tree &) { return execute_true(); }},
    {"ReadTheSystemsSettings", 1, 0, [](const Tree &) { return read_file("/etc/passwd"); }},
    {"ReadItsOwnProcEntry", 1, 0, [](const Tree &) { return read_file("/proc/self/status"); }},
    {"ReadAnotherProcessProcEntry", 1, EACCES, [](const Tree &) { return read_file("/proc/1/status"); }},
    {"ReadRandomBytes", 1, 0, [](const Tree &) { return read_file("/dev/urandom"); }},
    {"WriteRandomBytes", 1, EACCES, [](const Tree &) { return open_with("/dev/urandom", O_WRONLY); }},
    {"ReadAndWriteTheNullDevice", 1, 0, [](const Tree &) { return open_with("/dev/null", O_RDWR); }},
    {"ReadAnotherDevice", 1, EACCES, [](const Tree &) { return read_file("/dev/zero"); }},
};

void PrintTo(const FileRow &row, std::ostream *os)
{
    *os << row.name;
}

std::string row_name(const ::testing::TestParamInfo<FileRow> &info)
{
    return info.param.name;
}

class Files : public ::testing::TestWithParam<FileRow> {};
TEST_P(Files, OnlyTheRecordingsFolderIsReadAndOnlyTheDestinationWritten)
{
    const FileRow &row = GetParam();
    const int abi = kernel_landlock_abi();
    if (abi < row.min_abi)
        GTEST_SKIP() << "needs Landlock ABI " << row.min_abi << "; the kernel offers " << abi;
    const Tree t = make_tree(row.name);
    const std::string got = in_child([&] {
        const std::string failed = confine(rules_for(t));
        return failed.empty() ? outcome(row.probe(t)) : failed;
    });
    if (row.expected == kSomeError)
        EXPECT_TRUE(got != "0" && got.rfind("confine", 0) != 0) << got;
    else
        EXPECT_EQ(got, outcome(row.expected));
}
INSTANTIATE_TEST_SUITE_P(Confined, Files, ::testing::ValuesIn(kFileRows), row_name);

// Every probe succeeds unconfined: the refusals above are the confinement's.
TEST(Files, EveryProbeSucceedsUnconfined)
{
    for (const FileRow &row : kFileRows) {
        if (row.expected == 0)
            continue;
        const Tree t = make_tree(std::string("unconfined_") + row.name);
        EXPECT_EQ(in_child([&] { return outcome(row.probe(t)); }), "0") << row.name;
    }
}

// ---- the conversion's own rules ---------------------------------------------------------

TEST(ConversionRules, ASourceThatIsALinkReadsBesideTheLinkAndBesideItsTarget)
{
    if (!kernel_landlock_abi())
        GTEST_SKIP() << "the kernel has no Landlock";
    const Tree t = make_tree("linked_source");
    fs::create_directories(t.root + "/exports");
    write_text(t.root + "/exports/cam1.ts", "recording");
    write_text(t.root + "/exports/cam1.m3u8", "playlist");
    fs::create_symlink("../exports/cam1.ts", t.a + "/cam1.ts");
    const std::string got = in_child([&] {
        const std::string failed = confine(conversion_confinement(t.a + "/cam1.ts", t.b + "/cam1_converted.mp4"));
        if (!failed.empty())
            return failed;
        return outcome(read_file(t.a + "/cam1.ts")) + " " + outcome(read_file(t.a + "/in.txt")) + " " +
               outcome(read_file(t.root + "/exports/cam1.m3u8")) + " " +
               outcome(read_file(t.a_old + "/secret.txt")) + " " +
               outcome(open_with(t.b + "/.cam1_converted.mp4.1.part", O_WRONLY | O_CREAT | O_EXCL)) + " " +
               outcome(open_with(t.b_old + "/x", O_WRONLY | O_CREAT | O_EXCL));
    });
    EXPECT_EQ(got, "0 0 0 EACCES 0 EACCES");
}

TEST(ConversionRules, PlainNamesReadAndWriteInTheWorkingFolderOnly)
{
    if (!kernel_landlock_abi())
        GTEST_SKIP() << "the kernel has no Landlock";
    const Tree t = make_tree("plain_names");
    const std::string got = in_child([&] {
        if (chdir(t.a.c_str()) != 0)
            return std::string("no working folder");
        const std::string failed = confine(conversion_confinement("in.txt", "in_converted.mp4"));
        if (!failed.empty())
            return failed;
        return outcome(read_file("in.txt")) + " " + outcome(open_with("in_converted.mp4", O_WRONLY | O_CREAT)) + " " +
               outcome(read_file("../A-old/secret.txt"));
    });
    EXPECT_EQ(got, "0 0 EACCES");
}

// ---- the network -------------------------------------------------------------------------

int tcp_connect(int fd, int port)
{
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return result(connect(fd, (sockaddr *)&addr, sizeof(addr)));
}

int make_socket(int family, int type)
{
    const int fd = socket(family, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    close(fd);
    return 0;
}

// A local socket pair still carries bytes.
int local_pair_works()
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return errno;
    char c = 'x';
    const int error = write(pair[0], &c, 1) == 1 && read(pair[1], &c, 1) == 1 ? 0 : EIO;
    close(pair[0]);
    close(pair[1]);
    return error;
}

TEST(Network, NoSocketButALocalOneAndNoConnectionReachesTheListener)
{
    if (!kernel_has_seccomp())
        GTEST_SKIP() << "the kernel has no seccomp";
    LoopbackListener listener;
    const Tree t = make_tree("network");
    const std::string got = in_child([&] {
        const std::string failed = confine(rules_for(t));
        if (!failed.empty())
            return failed;
        const int tcp = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int tcp_error = tcp < 0 ? errno : tcp_connect(tcp, listener.port());
        return outcome(tcp_error) + " udp " + outcome(make_socket(AF_INET, SOCK_DGRAM)) + " tcp6 " +
               outcome(make_socket(AF_INET6, SOCK_STREAM)) + " netlink " +
               outcome(make_socket(AF_NETLINK, SOCK_RAW)) + " uring " +
               outcome(result(syscall(SYS_io_uring_setup, 1, nullptr))) + " unix " +
               outcome(make_socket(AF_UNIX, SOCK_STREAM)) + " pair " + outcome(local_pair_works());
    });
    EXPECT_EQ(got, "EACCES udp EACCES tcp6 EACCES netlink EACCES uring ENOSYS unix 0 pair 0");
    EXPECT_EQ(listener.connections(), 0);
}

TEST(Network, ASocketMadeBeforeConfinementCannotConnectEither)
{
    // The seccomp filter sees only socket(): Landlock refuses the connection itself.
    if (kernel_landlock_abi() < 4)
        GTEST_SKIP() << "TCP rules need Landlock ABI 4; the kernel offers " << kernel_landlock_abi();
    LoopbackListener listener;
    const Tree t = make_tree("network_early_socket");
    const std::string got = in_child([&] {
        const int early = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int bound = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const std::string failed = confine(rules_for(t));
        if (!failed.empty())
            return failed;
        sockaddr_in any = {};
        any.sin_family = AF_INET;
        any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return outcome(tcp_connect(early, listener.port())) + " bind " +
               outcome(result(bind(bound, (sockaddr *)&any, sizeof(any))));
    });
    EXPECT_EQ(got, "EACCES bind EACCES");
    EXPECT_EQ(listener.connections(), 0);
    // The same without confinement reaches it.
    EXPECT_EQ(in_child([&] {
                  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                  return outcome(tcp_connect(fd, listener.port()));
              }),
              "0");
    EXPECT_EQ(listener.connections(), 1);
}

// ---- threads -------------------------------------------------------------------------------

TEST(Threads, OnlyTheConfinedThreadAndThoseItStartsLaterAreConfined)
{
    if (!kernel_landlock_abi() || !kernel_has_seccomp())
        GTEST_SKIP() << "needs Landlock and seccomp";
    const Tree t = make_tree("threads");
    const auto probe = [&t] {
        return outcome(read_file(t.a_old + "/secret.txt")) + "/" + outcome(make_socket(AF_INET, SOCK_STREAM));
    };
    const std::string got = in_child([&] {
        // Started before, waiting until the confinement is in place.
        std::atomic<bool> confined{false};
        std::string before, after;
        std::thread earlier([&] {
            while (!confined)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            before = probe();
        });
        const std::string failed = confine(rules_for(t));
        confined = true;
        std::thread later([&] { after = probe(); });
        const std::string mine = probe();
        earlier.join();
        later.join();
        return failed.empty() ? "before " + before + " self " + mine + " after " + after : failed;
    });
    EXPECT_EQ(got, "before 0/0 self EACCES/EACCES after EACCES/EACCES");
}

// ---- kernels that lack what is asked, and kernels that refuse it ----------------------------

// A negative errno, whichever.
constexpr int kAnyFailure = 1;

struct KernelRow {
    const char *name;
    std::function<bool()> fake; // makes the kernel answer so
    int status;                 // what plat_confine_thread returns, or kAnyFailure
    int landlock_abi;           // the ABI applied; -1: the kernel's own
    bool seccomp;
    const char *note;           // a word of the note
};

const long kGetSeccomp = PR_GET_SECCOMP;

const KernelRow kKernelRows[] = {
    {"LandlockNotBuiltIn", fake_kernel_without_landlock, 0, 0, true,
     "has no Landlock"},
    {"LandlockTurnedOffAtBoot", [] { return fake_kernel_answer(SCMP_SYS(landlock_create_ruleset), EOPNOTSUPP); }, 0, 0,
     true, "has no Landlock"},
    {"LandlockRefusingTheRuleset", [] { return fake_kernel_answer(SCMP_SYS(landlock_create_ruleset), ENOMEM); },
     -ENOMEM, 0, false, "could not confine the conversion (Landlock"},
    {"LandlockRefusingToRestrict", [] { return fake_kernel_answer(SCMP_SYS(landlock_restrict_self), EPERM); }, -EPERM,
     0, false, "could not confine the conversion (Landlock"},
    {"NoSeccomp", [] { return fake_kernel_answer(SCMP_SYS(prctl), EINVAL, &kGetSeccomp); }, 0, -1, false,
     "has no seccomp"},
    // libseccomp asks the kernel about its features first: the error it ends with
    // is its own choice.
    {"SeccompRefusingTheFilter", [] { return fake_kernel_answer(SCMP_SYS(seccomp), EBUSY); }, kAnyFailure, -1, false,
     "could not confine the conversion (seccomp"},
};

void PrintTo(const KernelRow &row, std::ostream *os)
{
    *os << row.name;
}

std::string kernel_row_name(const ::testing::TestParamInfo<KernelRow> &info)
{
    return info.param.name;
}

class Kernels : public ::testing::TestWithParam<KernelRow> {};
TEST_P(Kernels, WhatIsMissingIsReportedAndWhatIsRefusedFails)
{
    const KernelRow &row = GetParam();
    const int abi = kernel_landlock_abi();
    if (!abi || !kernel_has_seccomp())
        GTEST_SKIP() << "needs a kernel with Landlock and seccomp to take them away";
    const Tree t = make_tree(std::string("kernel_") + row.name);
    const std::string got = in_child([&] {
        if (!row.fake())
            return std::string("cannot fake the kernel");
        ConfineApplied applied;
        std::string note;
        const int status = plat_confine_thread(rules_for(t), &applied, &note);
        const bool expected_status = row.status == kAnyFailure ? status < 0 : status == row.status;
        return std::string(expected_status ? "" : "status " + std::to_string(status) + ", ") + "ABI " +
               std::to_string(applied.landlock_abi) + ", seccomp " + (applied.seccomp ? "on" : "off") + ": " + note;
    });
    const int expected_abi = row.landlock_abi < 0 ? abi : row.landlock_abi;
    const std::string head = "ABI " + std::to_string(expected_abi) + ", seccomp " + (row.seccomp ? "on" : "off") + ": ";
    EXPECT_EQ(got.substr(0, head.size()), head) << got;
    EXPECT_NE(got.find(row.note), std::string::npos) << got;
}
INSTANTIATE_TEST_SUITE_P(Faked, Kernels, ::testing::ValuesIn(kKernelRows), kernel_row_name);

} // namespace
