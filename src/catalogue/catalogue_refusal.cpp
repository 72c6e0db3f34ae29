#include "catalogue/catalogue_refusal.h"

#include "catalogue/firebird_connection.h"
#include "catalogue/firebird_file.h"
#include "platform/error.h"

#include <cstdint>
#include <string>

namespace quill {

namespace {

const std::string kHoldsCode = "The template catalogue holds code and is not opened: ";
const std::string kOtherFiles = "The template catalogue refers to other files and is not opened: ";

// How the engine itself compiles a plain table read whole: one stream, no other.
const std::string kPlainPlan = "PLAN (TEMPLATES NATURAL)";

[[noreturn]] void refuse(const std::string& reason) { throw AppError(reason); }

}  // namespace

void refuseOtherFiles(const std::string& databasePath) {
    switch (otherFilesOf(databasePath)) {
    case OtherFiles::None:
    case OtherFiles::NotChecked:
        return;
    case OtherFiles::Secondary:
        refuse(kOtherFiles + "it continues in further database files.");
    case OtherFiles::Difference:
        refuse(kOtherFiles + "it is set up to write its changes into a backup difference file.");
    case OtherFiles::Listed:
        refuse(kOtherFiles + "it lists files of its own, such as shadow copies.");
    case OtherFiles::CryptPlugin:
        refuse(kHoldsCode + "it is encrypted by a plugin it names.");
    case OtherFiles::Unclear:
        refuse("The template catalogue is damaged and is not opened: its page directory cannot be followed.");
    }
}

void refuseCodeInTemplates(FirebirdConnection& connection) {
    // Named columns of system tables, whose layout is the engine's own; whether
    // a BLR is there is all that is read of it.
    const RowBatch relation = connection.fetchAll(
        "SELECT COALESCE(RDB$RELATION_TYPE, 0), "
        "CASE WHEN RDB$VIEW_BLR IS NULL THEN 0 ELSE 1 END, "
        "CASE WHEN RDB$EXTERNAL_FILE IS NULL THEN 0 ELSE 1 END "
        "FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'TEMPLATES'");
    if (relation.rowCount() == 0) return;
    const std::string notPlain = kHoldsCode + "TEMPLATES is not a plain table.";
    if (relation.rowCount() != 1 || relation.at(0, 0).number != 0 || relation.at(0, 1).number != 0 ||
        relation.at(0, 2).number != 0)
        refuse(notPlain);

    constexpr std::int64_t kBlob = 261;  // RDB$FIELD_TYPE
    const RowBatch columns = connection.fetchAll(
        "SELECT CASE WHEN F.RDB$COMPUTED_BLR IS NULL THEN 0 ELSE 1 END, "
        "COALESCE(F.RDB$FIELD_TYPE, 0), COALESCE(F.RDB$FIELD_SUB_TYPE, 0) "
        "FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
        "WHERE RF.RDB$RELATION_NAME = 'TEMPLATES'");
    // The texts name no column: a name is the catalogue's, and a box shows the text.
    for (std::size_t row = 0; row < columns.rowCount(); ++row) {
        if (columns.at(row, 0).number != 0) refuse(kHoldsCode + "TEMPLATES has a computed column.");
        if (columns.at(row, 1).number == kBlob && columns.at(row, 2).number < 0)
            refuse(kHoldsCode + "TEMPLATES has a column of a blob subtype of its own.");
    }

    // The engine's own reading of the relation, whatever the rows above said:
    // a view, a procedure or a subquery in a column would show as more streams.
    if (connection.plan("SELECT * FROM TEMPLATES") != kPlainPlan) refuse(notPlain);
}

}  // namespace quill
