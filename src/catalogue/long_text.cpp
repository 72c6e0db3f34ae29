#include "catalogue/long_text.h"

#include "platform/codepage.h"

#include <vector>

namespace quill {

namespace {

// Decodes the text blobs another source reads, as they are read.
class DecodedBlobs final : public BlobSource {
public:
    DecodedBlobs(std::shared_ptr<const BlobSource> bytes, std::vector<bool> longText)
        : bytes_(std::move(bytes)), longText_(std::move(longText)) {}

    std::string read(std::size_t column, std::int64_t id) const override {
        std::string bytes = bytes_->read(column, id);
        return longText_[column] ? blobTextAsUtf8(bytes) : bytes;
    }

private:
    std::shared_ptr<const BlobSource> bytes_;
    std::vector<bool> longText_;
};

}  // namespace

std::string blobTextAsUtf8(const std::string& bytes) {
    if (auto decoded = platform::decodeUtf8(bytes)) return std::move(*decoded);
    return {};
}

void decodeLongText(RowBatch& rows) {
    std::vector<bool> longText(rows.columns.size());
    bool any = false;
    for (std::size_t i = 0; i < rows.columns.size(); ++i) {
        longText[i] = rows.columns[i].kind == ColumnKind::TextBlob;
        any |= longText[i];
    }
    if (!any) return;

    for (std::size_t row = 0; row < rows.rowCount(); ++row)
        for (std::size_t column = 0; column < rows.columns.size(); ++column) {
            Cell& cell = rows.at(row, column);
            if (longText[column] && !cell.unread) cell.text = blobTextAsUtf8(cell.text);
        }
    if (rows.blobs) rows.blobs = std::make_shared<DecodedBlobs>(std::move(rows.blobs), std::move(longText));
}

}  // namespace quill
