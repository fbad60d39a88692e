#pragma once

// Locks the whole of the open file `fd` for this process alone, waiting while another
// process holds it; closing the descriptor releases the lock. Copies of the program that
// append to one file take turns this way. False with errno set when it cannot be locked.
bool LockWholeFile(int fd);
