// A downloaded catalogue is data: it runs no code.
// What the engine would otherwise do on its behalf is refused here, and a
// refused catalogue fails as one that cannot be opened, with the reason.
#pragma once

namespace quill {

class FirebirdConnection;

// On the fresh attachment: raises AppError when TEMPLATES is there but a SELECT
// on it could run code: it is not a plain persistent table (a view, an external
// or temporary table), or a column of it is computed or of a blob subtype of its
// own, which a filter translates, or the engine's plan for reading it names more
// than TEMPLATES. A database without TEMPLATES is left to the statement, which
// then fails with the database's own message.
void refuseCodeInTemplates(FirebirdConnection& connection);

}  // namespace quill
