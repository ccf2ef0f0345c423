#pragma once
// Temporary files and folders that must not outlive the process when it is
// ended by SIGINT, SIGTERM or SIGHUP. A registered path is removed by the
// signal handler (a folder with the plain files in it), and the signal then
// takes its earlier course: the previous handler, or the default action.
//
// Registration is cheap and takes no lock; the handlers are installed on
// first use, never over a signal the process ignores.

namespace scarlex {

// Returns a ticket for Unregister, or -1 when every slot is taken (the
// path is then simply not cleaned up on a signal).
int RegisterTemporaryFile(const char* path);
int RegisterTemporaryFolder(const char* path);
void UnregisterTemporary(int ticket);

// The handler's work without the signal: removes everything registered
// now. For tests.
void RemoveRegisteredTemporaries();

}  // namespace scarlex
