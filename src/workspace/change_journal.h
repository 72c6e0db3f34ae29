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
    };
    Type type = Type::Begin;
    std::string path;
    std::string to;
    std::string text;
};

// Where the journal of a change of appDir (ending in a separator) lives.
std::string journalPath(const std::string& appDir);

// One line, ending in "\n", guarded by a check sum.
std::string journalLine(const JournalRecord& record);

// The records before the first line that is torn, garbled or not understood;
// `validSize` is where that line starts (the end of the bytes when none is).
std::vector<JournalRecord> parseJournal(const std::string& bytes, std::size_t& validSize);

// An open journal that takes appended records. Raises AppError with the system's
// reason; a failed append leaves the file as it was before it.
class JournalFile {
public:
    // A new journal holding `first`, on disk with its folder entry before this
    // returns. Raises when one exists already. While it is open no other
    // process takes it over.
    static JournalFile create(const std::string& path, const JournalRecord& first);
    // An existing journal with its records, cut back to them so that records
    // appended now can be read back. Nothing when a running program still
    // holds it; raises when it cannot be opened or read.
    static std::optional<JournalFile> takeOver(const std::string& path, std::vector<JournalRecord>& records);

    JournalFile(JournalFile&& other) noexcept;
    JournalFile& operator=(JournalFile&& other) noexcept;
    ~JournalFile();

    // `durable`: on the disk before this returns, not only handed to the system.
    void append(const std::vector<JournalRecord>& records, bool durable);
    void close();
    const std::string& path() const { return path_; }

private:
    JournalFile(std::string path, int fd, std::size_t size) : path_(std::move(path)), fd_(fd), size_(size) {}
    std::string path_;
    int fd_ = -1;
    std::size_t size_ = 0;
};

// Removes the journal once what it covers is on the disk; its folder entry
// reaches the disk as well. Raises AppError when it stays.
void removeJournal(const std::string& path);

// Tests only: called after every write to a journal and after every change on
// disk that a journal covers, so that a test can end the process right there.
void setJournalPointHook(void (*hook)());
void journalPoint();

}  // namespace quill
