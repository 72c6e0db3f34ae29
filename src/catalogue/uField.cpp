#include "catalogue/uField.h"

#include "platform/codepage.h"

#include <vector>

namespace quill {

void BlobTextAsUtf8(const FieldValue* Field, std::string& Text) {
    Text.clear();
    if (!Field) return;
    if (Field->column.kind != ColumnKind::TextBlob) {
        Text = Field->cell.text;
        return;
    }
    if (Field->cell.text.empty()) return;
    if (auto decoded = platform::decodeUtf8(Field->cell.text)) Text = std::move(*decoded);
}

void DataSetProvider4GetData(RowBatch& DataSet) {
    std::vector<std::size_t> longText;
    for (std::size_t i = 0; i < DataSet.columns.size(); ++i)
        if (DataSet.columns[i].kind == ColumnKind::TextBlob) longText.push_back(i);
    if (longText.empty()) return;

    std::string text;
    for (std::size_t row = 0; row < DataSet.rowCount(); ++row)
        for (std::size_t column : longText) {
            Cell& cell = DataSet.at(row, column);
            const FieldValue field{DataSet.columns[column], cell};
            BlobTextAsUtf8(&field, text);
            cell.text.swap(text);
        }
}

}  // namespace quill
