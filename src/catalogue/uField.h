// Long text arrives as raw bytes; these re-decode it as UTF-8 before the rows
// reach ClientDataSet4.
#pragma once

#include "catalogue/row_batch.h"

#include <string>

namespace quill {

// One column of one row.
struct FieldValue {
    const Column& column;
    const Cell& cell;
};

// Text of Field: a text blob's bytes decoded as strict UTF-8 (invalid bytes give
// ""), any other column's ordinary text; "" when Field is absent. Raises nothing.
void BlobTextAsUtf8(const FieldValue* Field, std::string& Text);

// Replaces the value of every text blob column of every row with BlobTextAsUtf8
// of it; a batch without such columns is left untouched.
void DataSetProvider4GetData(RowBatch& DataSet);

}  // namespace quill
