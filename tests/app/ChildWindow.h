// The converter's window in a child process of the tests, for what needs a process of
// its own: quitting on SIGTERM or SIGINT, and converting as an unprivileged user.
//
// The parent starts the test program again with WVC_CHILD_SOURCE (the recording) and
// optionally WVC_CHILD_DESTINATION (the folder), WVC_CHILD_AS_NOBODY=1 and
// WVC_CHILD_UNTIL_SIGNAL=1 (only a signal ends the event loop). The child
// converts once and reports on standard output, one line each:
//   "converting"            once the output holds its first pictures
//   "box <message>"         each message box, line feeds as " | ", answered with OK
//   "status <text>"         the status line when the event loop has ended
// It ends when the conversion's result has been handled (unless told to wait for a
// signal), or when a signal makes the window quit; its exit status is the event loop's.
#pragma once

namespace ChildWindow {

// Whether this process is such a child.
bool Requested();
// Before the application object exists: becomes the user nobody when asked. False
// when that is impossible (not root, no such user).
bool DropPrivilegesIfAsked();
// The exit status when DropPrivilegesIfAsked() failed.
constexpr int CannotDropPrivileges = 77;
// Converts once as described above and returns the exit status.
int Run();

} // namespace ChildWindow
