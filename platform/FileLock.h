#pragma once

// Locks the whole of the open file `fd` for this process alone, waiting while another
// process holds it; closing the descriptor releases the lock. Copies of the program that
// append to one file take turns this way. False with errno set when it cannot be locked.
bool LockWholeFile(int fd);

// The same without waiting: false at once, with errno EWOULDBLOCK, while another process
// holds the lock (false with another errno when the file cannot be locked at all).
bool TryLockWholeFile(int fd);
