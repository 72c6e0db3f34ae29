// The journal of one change of the application folder: a hidden text file in
// that folder, one record a line, appended as the change goes and read back
// after a crash. Paths are relative to the folder, escaped so that any name
// survives; a line that did not reach the disk whole ends the reading.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quill {

enum class ChangeKind { Installation, Update };

struct JournalRecord {
    enum class Type {
        Begin,       // text: the kind of change
        WorkFolder,  // path: removed at the end, whatever happens
        Scratch,     // path: a file of ours, removed at the end, whatever happens
        Folder,      // path: made by the change, removed on rollback when empty
        Move,        // path -> to: a rename that never replaces its target
        Aside,       // path -> to: an old file kept at `to` until the change completes
        Undone,      // text: every step from this index on is undone
        Commit,      // every new file is in place: complete, never roll back
        Final,       // text: how many steps follow, the last burst; once all are made, complete
        Checked,     // after the commit: what is left aside is ours to remove, none of it changed
    };
    Type type = Type::Begin;
    std::string path;
    std::string to;
    std::string text;
    // Move and Aside, when known: what was at `path` as the step was recorded
    // (fileStamp), so that a file changed since is never taken for ours.
    std::string stamp;
};

// Where the journal of a change of appDir (ending in a separator) lives.
std::string journalPath(const std::string& appDir);
// Where the journal at journalPath is written before it takes its name.
std::string journalDraftOf(const std::string& journalPath);

// One line, ending in "\n", guarded by a check sum.
std::string journalLine(const JournalRecord& record);

// The records before the first line that is torn, garbled or not understood;
// `validSize` is where that line starts (the end of the bytes when none is).
// `whole` (when given) is false unless that line is a torn last one: a bad
// line with more after it, a line whole but not understood, or a first record
// that is no Begin mean the records may not be all there is.
std::vector<JournalRecord> parseJournal(const std::string& bytes, std::size_t& validSize, bool* whole = nullptr);

// An open journal that takes appended records. Raises AppError with the system's
// reason; a failed append leaves the file as it was before it.
class JournalFile {
public:
    // A new journal holding `first`, on disk with its folder entry before this
    // returns. It is written and locked under another name first and then
    // renamed into place, so no other copy of the program ever sees it
    // unlocked; while it is open no other process takes it over. Raises when
    // one exists already.
    static JournalFile create(const std::string& path, const JournalRecord& first);
    // The existing journal at path, locked. Nothing when there is none, or a
    // running program still holds it; raises when it cannot be opened.
    static std::optional<JournalFile> takeOver(const std::string& path);

    JournalFile(JournalFile&& other) noexcept;
    JournalFile& operator=(JournalFile&& other) noexcept;
    ~JournalFile();

    // Every record in the file. True when it reads whole (a torn last line is
    // cut off, so that records appended now can be read back); false, with
    // the file left untouched, when it does not (parseJournal). Raises when
    // it cannot be read.
    bool readRecords(std::vector<JournalRecord>& records);
    // `durable`: on the disk before this returns, not only handed to the
    // system. Raises, before writing anything, for a record the reading would
    // not take back.
    void append(const std::vector<JournalRecord>& records, bool durable);
    // Makes what was read durable: a killed writer may have left records that
    // only the page cache holds, and acting on them would outlive them.
    void sync();
    void close();
    const std::string& path() const { return path_; }

private:
    JournalFile(std::string path, int fd, std::size_t size) : path_(std::move(path)), fd_(fd), size_(size) {}
    void write(const std::vector<JournalRecord>& records, bool durable);
    std::string path_;
    int fd_ = -1;
    std::size_t size_ = 0;
};

// Removes what a run killed while it was creating the journal at path left
// under the journal's draft name; one that another copy is writing stays.
void removeAbandonedDraft(const std::string& path);

// Removes the journal once what it covers is on the disk; its folder entry
// reaches the disk as well. Raises AppError when it stays.
void removeJournal(const std::string& path);

// Tests only: called after every write to a journal and after every change on
// disk that a journal covers, so that a test can end the process right there.
void setJournalPointHook(void (*hook)());
void journalPoint();

}  // namespace quill
