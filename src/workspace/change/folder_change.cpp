#include "workspace/change/folder_change.h"

#include "workspace/change/file_ops.h"

#include "platform/error.h"
#include "platform/file_status.h"
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>

namespace quill {

namespace {

using Type = JournalRecord::Type;
constexpr char kSep = platform::kSeparator;

const char* kindName(ChangeKind kind) { return kind == ChangeKind::Installation ? "installation" : "update"; }

bool isFolder(const std::string& path) {
    platform::FileStatus status;
    return platform::linkStatusOf(path, status) && status.kind == platform::FileKind::folder;
}

[[noreturn]] void raiseSystemError(int error) { throw AppError(platform::systemErrorText(error)); }

JournalFile beginJournal(const std::string& appDir, ChangeKind kind) {
    if (platform::pathExists(journalPath(appDir))) {
        throw AppError("An earlier template installation or program update was interrupted and has not been put "
                       "right yet. Start the program again to put it right.");
    }
    JournalRecord begin;
    begin.type = Type::Begin;
    begin.text = kindName(kind);
    return JournalFile::create(journalPath(appDir), begin);
}

std::string parentOf(const std::string& path) {
    const auto cut = path.find_last_of(kSep);
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

bool isMoveStep(const JournalRecord& step) { return step.type == Type::Move || step.type == Type::Aside; }

// Every folder whose entries the steps changed, or will change when undone
// or cleaned up: relative, "" for the application folder itself.
std::set<std::string> touchedFolders(const std::vector<JournalRecord>& steps) {
    std::set<std::string> folders;
    for (const auto& step : steps) {
        folders.insert(parentOf(step.path));
        if (isMoveStep(step)) folders.insert(parentOf(step.to));
    }
    return folders;
}

// Renames and removals in these folders reach the disk; one that is gone
// (a work folder removed) has nothing left to lose.
void syncFolders(const std::string& appDir, const std::set<std::string>& folders) {
    for (const auto& folder : folders) {
        if (!platform::syncFolder(appDir + folder) && platform::lastError() != ENOENT) {
            raiseSystemError(platform::lastError());
        }
    }
}

// The files and folders of a tree, or the one file that path is.
void collectTree(const std::string& path, std::vector<std::string>& files, std::vector<std::string>& folders) {
    if (!isFolder(path)) {
        files.push_back(path);
        return;
    }
    folders.push_back(path);
    std::vector<platform::FolderEntry> entries;
    platform::listFolder(path, entries);
    for (const auto& entry : entries) {
        const std::string inner = path + kSep + entry.name;
        if (entry.isLink) continue;  // the link's own entry is in its folder
        if (entry.isFolder) collectTree(inner, files, folders);
        else files.push_back(inner);
    }
}

// What is renamed into place must be on the disk first: a rename that
// outlives the data in a power cut leaves an empty or torn file under the
// new name.
void syncBeforeRenames(const std::string& appDir, const std::vector<JournalRecord>& steps) {
    std::vector<std::string> files, folders;
    std::set<std::string> holders;
    for (const auto& step : steps) {
        if (step.type != Type::Move) continue;
        collectTree(appDir + step.path, files, folders);
        // A record naming a source whose own name is not on the disk yet would
        // pass, after a power cut, for a move already made.
        for (std::string folder = step.path; !folder.empty();) {
            folder = parentOf(folder);
            holders.insert(appDir + folder);
        }
    }
    if (!platform::syncFiles(files)) raiseSystemError(platform::lastError());
    holders.insert(folders.begin(), folders.end());
    for (const auto& folder : holders) {
        if (!platform::syncFolder(folder)) raiseSystemError(platform::lastError());
    }
}

// A file or a whole tree as it is now: its files, their bytes and the newest
// change among them. Enough to tell that someone wrote to it since.
std::string stampOf(const std::string& path) {
    std::vector<std::string> files, folders;
    collectTree(path, files, folders);
    std::uint64_t bytes = 0;
    std::int64_t newest = 0;
    for (const auto& file : files) {
        platform::FileStatus status;
        if (!platform::linkStatusOf(file, status)) continue;
        bytes += status.size;
        newest = std::max(newest, status.modified);
    }
    return std::to_string(files.size()) + " " + std::to_string(bytes) + " " + std::to_string(newest);
}

bool changedSinceRecorded(const std::string& path, const JournalRecord& step) {
    return !step.stamp.empty() && stampOf(path) != step.stamp;
}

// A free name beside path that says what it holds: "db (changed, kept).fdb".
std::string keptNameFor(const std::string& path) {
    const auto cut = path.find_last_of(kSep);
    const std::string name = path.substr(cut + 1);
    const auto dot = isFolder(path) ? std::string::npos : name.find_last_of('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string extension = dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot);
    for (int n = 1;; ++n) {
        const std::string candidate = path.substr(0, cut + 1) + stem + " (changed, kept" +
                                      (n == 1 ? std::string() : " " + std::to_string(n)) + ")" + extension;
        if (!platform::pathExists(candidate)) return candidate;
    }
}

// Someone's work is never deleted with ours: it moves to a kept name beside
// where it belongs instead.
void keepChanged(const std::string& path, const std::string& besidePath, std::vector<std::string>& kept) {
    const std::string keptPath = keptNameFor(besidePath);
    if (!platform::renamePath(path, keptPath)) {
        throw AppError("Cannot move \"" + path + "\" to \"" + keptPath + "\". " +
                       platform::systemErrorText(platform::lastError()));
    }
    kept.push_back(keptPath);
}

// Inside a work folder or a scratch file of the change: what goes there is removed.
bool endsInOurs(const std::string& path, const std::vector<JournalRecord>& steps) {
    for (const auto& step : steps) {
        if (step.type == Type::Scratch && step.path == path) return true;
        if (step.type == Type::WorkFolder && path.compare(0, step.path.size() + 1, step.path + kSep) == 0) return true;
    }
    return false;
}

// The steps of a change as its journal tells them, with what became of it.
struct RecordedChange {
    std::vector<JournalRecord> steps;
    std::size_t undoneFrom = SIZE_MAX;
    bool committed = false;
    bool checked = false;
    std::size_t finalFrom = SIZE_MAX;  // where the last burst starts
    std::size_t finalSteps = 0;
};

RecordedChange readChange(const std::vector<JournalRecord>& records) {
    RecordedChange change;
    for (std::size_t i = 1; i < records.size(); ++i) {
        const JournalRecord& record = records[i];
        if (record.type == Type::Commit) change.committed = true;
        else if (record.type == Type::Checked) change.checked = true;
        else if (record.type == Type::Undone)
            change.undoneFrom = std::min<std::size_t>(change.undoneFrom, std::stoul(record.text));
        else if (record.type == Type::Final) {
            change.finalFrom = change.steps.size();
            change.finalSteps = std::stoul(record.text);
        } else if (record.type != Type::Begin) change.steps.push_back(record);
    }
    change.undoneFrom = std::min(change.undoneFrom, change.steps.size());
    return change;
}

// Every step of the last burst is made, as the disk shows it now: the change
// is done but for its commit, and the new files may be in use already.
bool lastBurstMade(const std::string& appDir, const RecordedChange& change) {
    if (change.finalFrom == SIZE_MAX || change.undoneFrom != change.steps.size() ||
        change.finalFrom + change.finalSteps != change.steps.size()) {
        return false;
    }
    for (std::size_t i = change.finalFrom; i < change.steps.size(); ++i) {
        const JournalRecord& step = change.steps[i];
        if (step.type == Type::Folder) {
            if (!isFolder(appDir + step.path)) return false;
            continue;
        }
        if (!isMoveStep(step) || !platform::pathExists(appDir + step.to)) return false;
        // A source that a later step of the burst filled again is made all the same.
        bool refilled = false;
        for (std::size_t j = i + 1; j < change.steps.size(); ++j) refilled |= change.steps[j].to == step.path;
        if (!refilled && platform::pathExists(appDir + step.path)) return false;
    }
    return true;
}

// One step of an unfinished change put back, from what the disk shows now.
void undoStep(const std::string& appDir, const RecordedChange& change, std::size_t index, JournalFile& journal,
              std::vector<std::string>& kept) {
    const JournalRecord& step = change.steps[index];
    const std::string path = appDir + step.path;
    switch (step.type) {
    case Type::Move:
    case Type::Aside: {
        const std::string to = appDir + step.to;
        if (platform::pathExists(path) || !platform::pathExists(to)) return;  // never made
        if (endsInOurs(step.path, change.steps) && changedSinceRecorded(to, step)) {
            keepChanged(to, to, kept);
            break;
        }
        if (!platform::renamePath(to, path)) {
            throw AppError("Cannot move \"" + to + "\" back to \"" + path + "\". " +
                           platform::systemErrorText(platform::lastError()));
        }
        break;
    }
    case Type::Folder:
        // One that is not empty holds what is not ours; it stays. What was
        // moved back out of it reaches the disk first: a power cut must not
        // keep the removal and lose the move, and with it what was moved.
        if (isFolder(path)) {
            syncFolders(appDir, touchedFolders(change.steps));
            platform::removeFolder(path);
        }
        break;
    case Type::WorkFolder:
    case Type::Scratch: {
        if (!platform::pathExists(path)) return;
        // Once this is gone the steps after it can no longer be told from
        // their sources, so the disk must first know that they are undone.
        syncFolders(appDir, touchedFolders(change.steps));
        JournalRecord undone;
        undone.type = Type::Undone;
        undone.text = std::to_string(index + 1);
        journal.append({undone}, true);
        removeTree(path);
        break;
    }
    default:
        return;
    }
    journalPoint();
}

// Undoes or completes the change that the held journal records, then
// removes the journal while still holding it. A journal that cannot be read
// whole is left as it is, with the folder: half of it read as the whole
// would undo a change that was committed. `mayComplete`: a change whose
// last burst is all made is completed rather than undone.
RecoveredChange putRight(const std::string& appDir, JournalFile& journal, bool mayComplete) {
    RecoveredChange result;
    std::vector<JournalRecord> records;
    if (!journal.readRecords(records)) {
        result.outcome = RecoveredChange::Outcome::Unreadable;
        return result;
    }
    journal.sync();

    // Without a whole first record nothing was changed yet.
    if (!records.empty()) {
        result.kind = records.front().text == "installation" ? ChangeKind::Installation : ChangeKind::Update;
        const RecordedChange change = readChange(records);
        const std::set<std::string> touched = touchedFolders(change.steps);
        if (!change.committed && mayComplete && lastBurstMade(appDir, change)) {
            // What a stopped run left in place is made to last before it counts.
            syncFolders(appDir, touched);
            JournalRecord commit;
            commit.type = Type::Commit;
            journal.append({commit}, true);
        } else if (!change.committed) {
            for (std::size_t i = change.undoneFrom; i-- > 0;) undoStep(appDir, change, i, journal, result.kept);
            result.outcome = RecoveredChange::Outcome::RolledBack;
        }
        if (result.outcome != RecoveredChange::Outcome::RolledBack) {
            // Checked once, before anything goes: a tree that our own removal
            // left half gone must not pass for one that someone changed.
            if (!change.checked) {
                for (auto it = change.steps.rbegin(); it != change.steps.rend(); ++it) {
                    const std::string aside = appDir + it->to;
                    if (it->type == Type::Aside && platform::pathExists(aside) && changedSinceRecorded(aside, *it)) {
                        keepChanged(aside, appDir + it->path, result.kept);
                    }
                }
                syncFolders(appDir, touched);
                JournalRecord checked;
                checked.type = Type::Checked;
                journal.append({checked}, true);
            }
            for (auto it = change.steps.rbegin(); it != change.steps.rend(); ++it) {
                if (it->type == Type::Aside) removeTree(appDir + it->to);
                else if (it->type == Type::WorkFolder || it->type == Type::Scratch) removeTree(appDir + it->path);
                else continue;
                journalPoint();
            }
            result.outcome = RecoveredChange::Outcome::Completed;
        }
        // The journal may go only once what it put right is on the disk.
        syncFolders(appDir, touched);
    }
    // Removed while still held, so no other start takes over what is gone.
    removeJournal(journal.path());
    journal.close();
    return result;
}

}  // namespace

// --- FolderChange::Burst ---

void FolderChange::Burst::makeFolder(const std::string& path) {
    steps_.push_back({Type::Folder, path, {}, {}, {}});
}

void FolderChange::Burst::move(const std::string& from, const std::string& to) {
    steps_.push_back({Type::Move, from, to, {}, {}});
}

void FolderChange::Burst::keepAside(const std::string& path, const std::string& kept) {
    steps_.push_back({Type::Aside, path, kept, {}, {}});
}

// --- FolderChange ---

FolderChange::FolderChange(std::string appDir, ChangeKind kind)
    : appDir_(std::move(appDir)), journal_(beginJournal(appDir_, kind)) {}

FolderChange::~FolderChange() {
    if (finished_) return;
    try {
        rollBack();
    } catch (...) {
        // The journal stays; the next start puts the folder back.
    }
}

std::string FolderChange::relative(const std::string& path) const {
    std::string rest = path.compare(0, appDir_.size(), appDir_) == 0 ? path.substr(appDir_.size()) : std::string();
    while (!rest.empty() && rest.back() == kSep) rest.pop_back();
    if (rest.empty() || rest.front() == kSep || rest == journalPath("")) {
        throw AppError("The path \"" + path + "\" is not inside the application folder.");
    }
    return rest;
}

JournalRecord FolderChange::step(Type type, const std::string& path, const std::string& to) const {
    JournalRecord record;
    record.type = type;
    record.path = relative(path);
    if (!to.empty()) record.to = relative(to);
    if (isMoveStep(record) && platform::pathExists(path)) record.stamp = stampOf(path);
    return record;
}

// The rules that let the undoing tell from the disk alone which steps were made.
void FolderChange::check(const JournalRecord& record, const std::set<std::string>& burstTargets) const {
    if (finished_) throw AppError("The change of the application folder has ended already.");
    const std::string path = appDir_ + record.path;
    switch (record.type) {
    case Type::Move:
    case Type::Aside:
        if (!platform::pathExists(path)) raiseSystemError(ENOENT);
        if (targets_.count(record.path) || burstTargets.count(record.path)) {
            throw AppError("\"" + path + "\" was put there by this change and cannot be moved again.");
        }
        // What is kept aside is deleted on commit, so it must be ours alone.
        if (record.type == Type::Aside && (platform::pathExists(appDir_ + record.to) || targets_.count(record.to) ||
                                           burstTargets.count(record.to))) {
            raiseSystemError(EEXIST);
        }
        break;
    case Type::Folder:
    case Type::Scratch:
        if (platform::pathExists(path)) raiseSystemError(EEXIST);
        [[fallthrough]];
    case Type::WorkFolder:
        if (sources_.count(record.path)) {
            throw AppError("\"" + path + "\" was moved away by this change and cannot be used again.");
        }
        break;
    default:
        break;
    }
}

void FolderChange::note(const JournalRecord& record) {
    steps_.push_back(record);
    if (isMoveStep(record)) {
        sources_.insert(record.path);
        targets_.insert(record.to);
    }
}

void FolderChange::make(const JournalRecord& record) {
    const std::string path = appDir_ + record.path;
    switch (record.type) {
    case Type::WorkFolder:
        if (!platform::createFolder(path) && !(platform::lastError() == EEXIST && isFolder(path))) {
            raiseSystemError(platform::lastError());
        }
        break;
    case Type::Folder:
        if (!platform::createFolder(path)) raiseSystemError(platform::lastError());
        break;
    case Type::Move:
    case Type::Aside:
        if (!platform::renamePath(path, appDir_ + record.to)) raiseSystemError(platform::lastError());
        break;
    default:
        return;  // a scratch file is the caller's to make
    }
    journalPoint();
}

void FolderChange::recordAndMake(const JournalRecord& record) {
    check(record, {});
    syncBeforeRenames(appDir_, {record});
    journal_.append({record}, true);
    note(record);
    make(record);
}

void FolderChange::makeWorkFolder(const std::string& path) { recordAndMake(step(Type::WorkFolder, path)); }
void FolderChange::addScratchFile(const std::string& path) { recordAndMake(step(Type::Scratch, path)); }
void FolderChange::makeFolder(const std::string& path) { recordAndMake(step(Type::Folder, path)); }
void FolderChange::move(const std::string& from, const std::string& to) { recordAndMake(step(Type::Move, from, to)); }

void FolderChange::keepAside(const std::string& path, const std::string& kept) {
    recordAndMake(step(Type::Aside, path, kept));
}

void FolderChange::copy(const std::string& from, const std::string& to) {
    Burst intoPlace;
    copy(from, to, intoPlace);
    carryOut(intoPlace);
}

void FolderChange::copy(const std::string& from, const std::string& to, Burst& intoPlace) {
    const std::string target = appDir_ + relative(to);
    const std::string temporary = draftBeside(target);
    addScratchFile(temporary);
    if (!platform::copyFile(from, temporary, true)) raiseSystemError(platform::lastError());
    journalPoint();
    intoPlace.move(temporary, target);
}

void FolderChange::carryOut(const Burst& burst) { carryOut(burst, false); }

void FolderChange::commit(const Burst& last) {
    carryOut(last, true);
    commit();
}

void FolderChange::carryOut(const Burst& burst, bool last) {
    std::vector<JournalRecord> records;
    if (last) records.push_back({Type::Final, {}, {}, std::to_string(burst.steps_.size()), {}});
    std::set<std::string> burstTargets;
    std::set<std::string> burstFolders;
    for (const auto& planned : burst.steps_) {
        JournalRecord record{planned.type, relative(planned.path), planned.to.empty() ? "" : relative(planned.to), {}, {}};
        check(record, burstTargets);
        if (record.type == Type::Folder && !burstFolders.insert(record.path).second) raiseSystemError(EEXIST);
        if (record.type != Type::Folder) burstTargets.insert(record.to);
        records.push_back(std::move(record));
    }
    syncBeforeRenames(appDir_, records);
    // Stamped once their data is on the disk: nothing changes them after that but someone's work.
    for (auto& record : records) {
        if (isMoveStep(record)) record.stamp = stampOf(appDir_ + record.path);
    }
    journal_.append(records, true);
    for (const auto& record : records) {
        if (record.type != Type::Final) note(record);
    }
    for (const auto& record : records) make(record);
}

void FolderChange::commit() {
    if (finished_) throw AppError("The change of the application folder has ended already.");
    // A commit that outlives the renames in a power failure would keep a
    // folder that is neither old nor new; the new files' data is on the disk
    // since before their renames.
    syncFolders(appDir_, touchedFolders(steps_));
    JournalRecord record;
    record.type = Type::Commit;
    journal_.append({record}, true);
    finished_ = true;
    try {
        putRight(appDir_, journal_, true);
    } catch (...) {
        // Committed all the same: the next start finishes the clean-up.
    }
    journal_.close();
}

void FolderChange::rollBack() {
    if (finished_) return;
    finished_ = true;
    // Still locked while it is undone: no second copy ever finds it free.
    // Undone even when every rename was made: the caller is told that the change failed.
    if (putRight(appDir_, journal_, false).outcome == RecoveredChange::Outcome::Unreadable) {
        throw AppError("The journal of changes \"" + journal_.path() + "\" cannot be read whole.");
    }
    journal_.close();
}

// --- recovery ---

RecoveredChange recoverUnfinishedChange(const std::string& appDir) {
    const std::string path = journalPath(appDir);
    removeAbandonedDraft(path);
    std::optional<JournalFile> journal = JournalFile::takeOver(path);
    // None, or another copy of the program is making that change right now.
    if (!journal) return {};
    return putRight(appDir, *journal, true);
}

}  // namespace quill
