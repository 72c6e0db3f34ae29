// A change of the application folder that nothing leaves half done. Every step
// is in the journal on disk before it is made; after an error the change is
// undone from those records, and after a killed process the next start undoes
// it the same way, or completes it once it was committed.
//
// What keeps a second crash during the undoing harmless: a move's source
// exists when the move is recorded and no other step of the change puts
// anything there, so a move is done exactly when its source is gone and its
// target is there; folders, scratch files and copies start from free names.
#pragma once

#include "workspace/change/change_journal.h"

#include <set>
#include <string>
#include <vector>

namespace quill {

class FolderChange {
public:
    // Renames made together: their records reach the disk in one write, then
    // the renames follow at once, so the folder is mixed for no longer than
    // the renames themselves take.
    class Burst {
    public:
        void makeFolder(const std::string& path);
        void move(const std::string& from, const std::string& to);
        void keepAside(const std::string& path, const std::string& kept);
        bool empty() const { return steps_.empty(); }

    private:
        friend class FolderChange;
        std::vector<JournalRecord> steps_;
    };

    // Begins a change of appDir (ending in a separator). Raises AppError when an
    // unfinished change is still recorded there, or the journal cannot be written.
    FolderChange(std::string appDir, ChangeKind kind);
    // Undoes the change unless it was committed. Never raises: what cannot be
    // undone now stays in the journal for the next start.
    ~FolderChange();
    FolderChange(const FolderChange&) = delete;
    FolderChange& operator=(const FolderChange&) = delete;

    // Each step is recorded first, then made; all paths are full paths inside
    // appDir. Each raises AppError with the system's reason when it fails, and
    // a step that failed needs no undoing.

    // A folder for unpacking and keeping things aside; reused when it exists.
    // It goes with everything in it when the change ends, whatever happens.
    void makeWorkFolder(const std::string& path);
    // A file the caller creates next, at a free name; it goes when the change ends.
    void addScratchFile(const std::string& path);
    // One level at a free name; removed on rollback when empty.
    void makeFolder(const std::string& path);
    // A file or a whole folder, by one rename: never replaces `to`, never copies.
    void move(const std::string& from, const std::string& to);
    // Moves the old `path` to `kept`, to come back on rollback and to go on commit.
    void keepAside(const std::string& path, const std::string& kept);
    // Copies to a temporary name beside `to`, then renames it there, so `to`
    // never holds half a copy. Never replaces `to`.
    void copy(const std::string& from, const std::string& to);
    // The same, but the rename into place is left to `intoPlace`, so that a
    // burst can first move the old `to` aside.
    void copy(const std::string& from, const std::string& to, Burst& intoPlace);

    // The data of every file a move puts in place reaches the disk before the
    // burst's records, then the renames follow.
    void carryOut(const Burst& burst);

    // Every new file is in place: makes the renames of the change durable,
    // records so, then removes the kept files, the work folders and the
    // journal. Raises when the commit cannot be recorded; the change is then
    // still undone.
    void commit();
    // The same after `last`, recorded as the last burst: once all of its
    // renames are made, a stopped run is completed at the next start rather
    // than undone, since the new files may be in use by then.
    void commit(const Burst& last);
    // Undoes every step so far. Raises AppError when a step cannot be undone
    // or the journal cannot be read whole; the journal then stays, and the
    // next start tries again.
    void rollBack();

private:
    void carryOut(const Burst& burst, bool last);
    std::string relative(const std::string& path) const;
    JournalRecord step(JournalRecord::Type type, const std::string& path, const std::string& to = {}) const;
    void check(const JournalRecord& record, const std::set<std::string>& burstTargets) const;
    void note(const JournalRecord& record);
    void make(const JournalRecord& record);
    void recordAndMake(const JournalRecord& record);

    std::string appDir_;
    JournalFile journal_;
    std::vector<JournalRecord> steps_;  // every step recorded so far
    std::set<std::string> sources_;
    std::set<std::string> targets_;
    bool finished_ = false;
};

struct RecoveredChange {
    // Unreadable: the journal cannot be read whole (a bad line before its
    // last, a record not understood); the folder and the journal are left as
    // they are, for a person to look at.
    enum class Outcome { Nothing, RolledBack, Completed, Unreadable };
    Outcome outcome = Outcome::Nothing;
    ChangeKind kind = ChangeKind::Installation;
    // Files that someone changed after the change put them where it did,
    // kept under a name that says so instead of being deleted (full paths).
    std::vector<std::string> kept;
};

// Puts appDir in order after a change that a killed process left unfinished:
// undoes it, or completes it when it was committed or every rename of its
// last burst was made, then removes its work folders and the journal. A file
// changed since the journal recorded it is kept, never deleted. Returns what it did. Raises AppError when a step
// cannot be undone; the journal then stays for the next try.
RecoveredChange recoverUnfinishedChange(const std::string& appDir);

}  // namespace quill
