#include "catalogue/sql_data_set.h"

namespace quill {

RowBatch SqlDataSet::open() {
    active_ = false;
    RowBatch rows = connection_.fetchAll(commandText, BlobReading::OnDemand);
    active_ = true;
    return rows;
}

}  // namespace quill
