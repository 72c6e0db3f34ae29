// Every file and folder under a folder with its bytes, for checking that a step
// left a tree exactly as it was, or changed exactly what it should.
#pragma once

#include <map>
#include <string>

namespace quill::testing {

// Path relative to the folder -> content. Folders end in "/" and hold "";
// read-only files are marked by a "[read-only] " prefix on their content, and
// other files whose permission bits are not the default for new files by
// "[mode 0755] " (with their bits).
using TreeSnapshot = std::map<std::string, std::string>;

TreeSnapshot snapshotTree(const std::string& folder);

// The content a snapshot holds for a file of these bytes and permission bits.
std::string withMode(unsigned mode, const std::string& bytes);
// The bits a new file of this mode gets under the user's umask, worked out
// here rather than by the program.
unsigned underUmask(unsigned mode);

// One line per path that was added, removed or changed; "" when both are equal.
std::string treeDifferences(const TreeSnapshot& before, const TreeSnapshot& after);

}  // namespace quill::testing
