// Operating-system services used by the engine, kept behind one small interface so
// the engine itself stays portable. POSIX implementation in platform_posix.cpp.
//
// Callers: the engine's entry (timing, keyboard), option parsing (preset search,
// report file), output opening (file existence and removal).
#pragma once

#include <cstddef>
#include <cstdint>

// User CPU time of the whole process, in microseconds.
int64_t plat_user_time_us();

// Peak memory of the process in KiB (the resident high-water mark).
int64_t plat_peak_memory_kib();

// Memory the system can give to new work without swapping, in bytes: the
// kernel's MemAvailable estimate (/proc/meminfo). -1 when it cannot be read.
int64_t plat_available_memory_bytes();

// Puts a terminal on standard input into non-canonical, no-echo mode so single key
// presses can be polled. Does nothing when standard input is not a terminal. The
// previous mode is restored by plat_stdin_restore(), which is also registered to
// run at process exit, so the user's terminal is never left altered.
void plat_stdin_prepare();
void plat_stdin_restore();

// Opens /dev/null on each of the standard descriptors 0, 1 and 2 that is closed.
// A program started with them closed would otherwise hand those numbers to the
// next files it opens: the recording would be read as standard input and the log
// written into the output.
void plat_fill_closed_standard_descriptors();

// Keys are read only from a terminal on standard input: a file, a pipe or
// /dev/null there is never read as key presses (it reads as at its end).

// Returns the next byte waiting on standard input (0-255) without blocking, or -1
// when nothing is waiting, standard input is no terminal, or at end of input. A
// terminal that belongs to another (foreground) job is not read: a background run
// must not be stopped by the terminal nor take the keys of another program.
int plat_stdin_poll_byte();

// Waits for the next byte of a terminal on standard input; -1 at end of input,
// on error, or when standard input is no terminal.
int plat_stdin_wait_byte();

// 1 when standard input brings no more keys: no terminal, or the last read or
// poll found its end (a terminal hung up), so that a reader waiting for more can
// give up.
int plat_stdin_at_end();

// 1 when a file or directory exists at path, else 0.
int plat_path_exists(const char *path);

// Removes a file; 0 on success, -1 on failure (errno set).
int plat_remove_file(const char *path);

// Renames a file to a name that must not exist: 0 on success, -1 with errno
// EEXIST when something has that name, or another errno. Atomic where the file
// system can do it.
int plat_rename_no_replace(const char *from, const char *to);

// Folder of the running executable, without a trailing slash. Writes at most
// size bytes (including the terminator); returns 0, or -1 when unknown.
int plat_executable_dir(char *buf, size_t size);
