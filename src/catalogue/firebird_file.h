// What a Firebird 3 database file (ODS 12) says, in its own pages, about other
// files the engine would open and write for it, read before the engine sees it.
// The engine acts on these at the attachment itself, before any statement could
// look: it opens the secondary files a header names, writes a locked database's
// changes into its difference file, and writes the pages into the shadows that
// RDB$FILES lists, a conditional shadow without checking what the file is; and
// for an encrypted database it loads the plugin the header names, a path that
// may lead out of the plugins folder to a library unpacked beside the catalogue.
#pragma once

#include <string>

namespace quill {

enum class OtherFiles {
    None,        // one file that keeps nothing elsewhere
    NotChecked,  // no Firebird 3 database header (missing, unreadable, another ODS): the engine judges it
    Secondary,   // its header continues the database in further files
    Difference,  // it is locked for a backup, or its header names a difference file
    Listed,      // RDB$FILES holds rows: shadows, secondary or difference files
    CryptPlugin, // it is encrypted, or being encrypted, with a plugin its header names
    Unclear,     // its page directory cannot be followed to RDB$FILES, or is larger than a catalogue's
};

// Reads the header page and, through RDB$PAGES, the pointer pages of RDB$FILES,
// each page once, and no more than 1,024 pages and 65,536 records of RDB$PAGES
// in all: past that the file is Unclear. Raises nothing.
OtherFiles otherFilesOf(const std::string& path);

}  // namespace quill
