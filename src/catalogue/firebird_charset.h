// Which Windows code page a Firebird character set's bytes are in.
#pragma once

namespace quill {

// The code page of the character set with that number (RDB$CHARACTER_SET_ID);
// 0 for the sets whose bytes are taken as they come: NONE, OCTETS, UTF8 and
// UNICODE_FSS (already UTF-8), and NEXT and CYRL, which have no code page here.
unsigned codePageOfCharset(int charsetId);

}  // namespace quill
