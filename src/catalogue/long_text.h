// Long text (text blobs) arrives as raw bytes; it is read as UTF-8 before the
// rows reach the result set, whatever the connection's character set.
#pragma once

#include "catalogue/row_batch.h"

#include <string>

namespace quill {

// A text blob's bytes decoded as strict UTF-8; "" when they are not UTF-8.
std::string blobTextAsUtf8(const std::string& bytes);

// Replaces every text blob cell of every row with blobTextAsUtf8 of it, and
// has the unread ones decoded so as they are read; other columns, and a batch
// without text blobs, are left untouched.
void decodeLongText(RowBatch& rows);

}  // namespace quill
