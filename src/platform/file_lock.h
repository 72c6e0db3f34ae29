// A lock on an open file against the program's other copies: flock on Debian,
// LockFileEx over the whole file on Windows. Either way it holds against
// another open of the same file in this process too, and goes with the
// descriptor, or with the process however it ends.
#pragma once

namespace quill::platform {

enum class LockKind { shared, exclusive };

// Taken at once or not at all: false with EBUSY from lastError() while
// another open of the file holds a lock that stands in the way.
bool tryLockFile(int fd, LockKind kind);

}  // namespace quill::platform
