// A downloaded catalogue is data: it runs no code and reaches no other file.
// What the engine would otherwise do on its behalf is refused here, and a
// refused catalogue fails as one that cannot be opened, with the reason.
#pragma once

#include <string>

namespace quill {

class FirebirdConnection;

// Before the attachment: raises AppError when the database file's own pages make
// the engine open or write other files (secondary files, a backup difference
// file, the files RDB$FILES lists, shadows among them) or load the encryption
// plugin they name, or when they cannot be followed.
// A file that is no Firebird 3 database is left to the engine to refuse.
void refuseOtherFiles(const std::string& databasePath);

// On the fresh attachment: raises AppError when TEMPLATES is there but a SELECT
// on it could run code: it is not a plain persistent table (a view, an external
// or temporary table), or a column of it is computed or of a blob subtype of its
// own, which a filter translates, or the engine's plan for reading it names more
// than TEMPLATES. A database without TEMPLATES is left to the statement, which
// then fails with the database's own message.
void refuseCodeInTemplates(FirebirdConnection& connection);

}  // namespace quill
