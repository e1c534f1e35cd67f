#pragma once

// The temporary files this program has made and not yet renamed or removed, known to a signal
// handler that must remove them when the program ends at once (a second Ctrl-C, a run that
// does not stop in time): files are whole or absent, and no temporary stays behind.
namespace platform {

// Makes the file at path (O_CREAT | O_EXCL, mode 0666 less the umask) and notes it as live
// until releaseLiveTemporary(slot). Returns the descriptor, or -1 with errno set; *slot is
// then not to be released. Once removeLiveTemporaries() has begun, nothing new is made.
int createLiveTemporary(const char* path, int* slot);

// The file of slot was renamed into place or removed: it is no longer ours to remove.
void releaseLiveTemporary(int slot);

// Removes every live temporary, and makes every later createLiveTemporary() fail. Safe in a
// signal handler; it waits only for a creation that is under way on another thread.
void removeLiveTemporaries();

}  // namespace platform
