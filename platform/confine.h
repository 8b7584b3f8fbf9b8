// Kernel confinement of one conversion: what the calling thread (and every thread
// it starts afterwards) may still open, make and reach once confined. Landlock
// limits files and folders (and TCP where the kernel knows it), a seccomp filter
// refuses every socket but a local (AF_UNIX) one. Neither can be lifted again:
// the thread stays confined until it ends. Other threads of the process are not
// touched, so a caller that must stay free confines a thread of its own.
//
// Callers: the batch command's conversion process (single_job.cpp) before it runs
// the engine, and the window's worker (TranscodeWorker.cpp) on the thread each
// conversion runs on. POSIX/Linux implementation in confine.cpp.
//
//     ConfineApplied applied;
//     std::string note;
//     if (plat_confine_thread(conversion_confinement(source, output), &applied, &note) < 0)
//         fail(note);                       // never convert unconfined
//     else if (!applied.landlock_abi)
//         log_info(note);                   // the engine's folder guard alone holds
#pragma once

#include <string>
#include <vector>

// What a confined thread may still do with files. Everything else that Landlock
// can refuse is refused: executing, making folders, devices, named pipes, sockets
// or symbolic links, and reading or writing anywhere not named here. A path that
// does not exist (or a tree that is no folder) grants nothing.
struct ConfineRules {
    std::vector<std::string> read_trees;       // read files and list folders, in each tree
    std::vector<std::string> read_files;       // read these files
    std::vector<std::string> read_write_files; // read and write these files
    // In this folder tree, besides reading and listing: create regular files, write,
    // truncate and remove them, rename or link them within one folder. Empty: none.
    std::string write_folder;
};

// What plat_confine_thread could apply.
struct ConfineApplied {
    int landlock_abi = 0; // the Landlock version used; 0: the kernel has no Landlock
    bool seccomp = false; // the socket filter is in force
};

// What any conversion needs of the system, and nothing of the user's: read the
// libraries, their data and settings (/usr, /lib, /lib64, /etc), the processor
// list, the process's own /proc entry and the overcommit setting, read
// /dev/urandom, read and write /dev/null.
ConfineRules system_confinement();

// The rules of one conversion of `source` into `output`: read the source's folder
// tree (the folder of the source after symbolic links are resolved, and the folder
// as given when that differs) and write in the output's folder, besides
// system_confinement().
ConfineRules conversion_confinement(const std::string &source, const std::string &output);

// Confines the calling thread to `rules`, with no network: Landlock (every right
// the running kernel knows; TCP bind and connect refused from ABI 4 on) and a
// seccomp filter that makes socket() fail with EACCES for every address family but
// AF_UNIX. Sets no_new_privs first, which both need. A kernel without Landlock or
// without seccomp is no error: what could not be applied is reported in `applied`.
// Returns 0, or a negative errno when the kernel refused what it offers (the thread
// may then be confined in part and must not go on as if it were not). `note`, when
// given, receives one line on what was applied or why it failed.
int plat_confine_thread(const ConfineRules &rules, ConfineApplied *applied, std::string *note);
