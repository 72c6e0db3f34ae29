// This system's errno values as the Windows Sockets codes our fetch errors show.
#pragma once

namespace quill {

// The Windows Sockets code for an errno value (ECONNREFUSED gives 10061); 0 when none fits.
int wsaCodeForErrno(int error);

}  // namespace quill
