#include "workspace/folder_change.h"

#include "workspace/file_ops.h"

#include "platform/error.h"
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <sys/stat.h>

namespace quill {

namespace {

using Type = JournalRecord::Type;
constexpr char kSep = platform::kSeparator;

const char* kindName(ChangeKind kind) { return kind == ChangeKind::Installation ? "installation" : "update"; }

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

// One step of an unfinished change put back, from what the disk shows now.
void undoStep(const std::string& appDir, const JournalRecord& step, std::size_t index, JournalFile& journal) {
    const std::string path = appDir + step.path;
    switch (step.type) {
    case Type::Move:
    case Type::Aside: {
        const std::string to = appDir + step.to;
        if (platform::pathExists(path) || !platform::pathExists(to)) return;  // never made
        if (!platform::renamePath(to, path)) {
            throw AppError("Cannot move \"" + to + "\" back to \"" + path + "\". " +
                           platform::systemErrorText(platform::lastError()));
        }
        break;
    }
    case Type::Folder:
        // One that is not empty holds what is not ours; it stays.
        if (isFolder(path)) platform::removeFolder(path);
        break;
    case Type::WorkFolder:
    case Type::Scratch: {
        if (!platform::pathExists(path)) return;
        // Once this is gone the steps after it can no longer be told from
        // their sources, so the disk must first know that they are undone.
        if (!platform::syncFileSystem(appDir)) raiseSystemError(platform::lastError());
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
// would undo a change that was committed.
RecoveredChange putRight(const std::string& appDir, JournalFile& journal) {
    RecoveredChange result;
    std::vector<JournalRecord> records;
    if (!journal.readRecords(records)) {
        result.outcome = RecoveredChange::Outcome::Unreadable;
        return result;
    }

    // Without a whole first record nothing was changed yet.
    if (!records.empty()) {
        result.kind = records.front().text == "installation" ? ChangeKind::Installation : ChangeKind::Update;
        std::vector<JournalRecord> steps;
        std::size_t undoneFrom = SIZE_MAX;
        bool committed = false;
        for (std::size_t i = 1; i < records.size(); ++i) {
            const JournalRecord& record = records[i];
            if (record.type == Type::Commit) committed = true;
            else if (record.type == Type::Undone) undoneFrom = std::min<std::size_t>(undoneFrom, std::stoul(record.text));
            else if (record.type != Type::Begin) steps.push_back(record);
        }
        undoneFrom = std::min(undoneFrom, steps.size());

        if (committed) {
            for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
                if (it->type == Type::Aside) removeTree(appDir + it->to);
                else if (it->type == Type::WorkFolder || it->type == Type::Scratch) removeTree(appDir + it->path);
                else continue;
                journalPoint();
            }
            result.outcome = RecoveredChange::Outcome::Completed;
        } else {
            for (std::size_t i = undoneFrom; i-- > 0;) undoStep(appDir, steps[i], i, journal);
            result.outcome = RecoveredChange::Outcome::RolledBack;
        }
        // The journal may go only once what it put right is on the disk.
        if (!platform::syncFileSystem(appDir)) raiseSystemError(platform::lastError());
    }
    // Removed while still held, so no other start takes over what is gone.
    removeJournal(journal.path());
    journal.close();
    return result;
}

}  // namespace

// --- FolderChange::Burst ---

void FolderChange::Burst::makeFolder(const std::string& path) {
    steps_.push_back({Type::Folder, path, {}, {}});
}

void FolderChange::Burst::move(const std::string& from, const std::string& to) {
    steps_.push_back({Type::Move, from, to, {}});
}

void FolderChange::Burst::keepAside(const std::string& path, const std::string& kept) {
    steps_.push_back({Type::Aside, path, kept, {}});
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
    if (record.type == Type::Move || record.type == Type::Aside) {
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
    const auto cut = target.find_last_of(kSep);
    std::string temporary;
    for (int n = 0; temporary.empty() || platform::pathExists(temporary); ++n) {
        temporary = target.substr(0, cut + 1) + "." + target.substr(cut + 1) + ".new" + std::to_string(n);
    }
    addScratchFile(temporary);
    if (!platform::copyFile(from, temporary, true)) raiseSystemError(platform::lastError());
    journalPoint();
    intoPlace.move(temporary, target);
}

void FolderChange::carryOut(const Burst& burst) {
    std::vector<JournalRecord> records;
    std::set<std::string> burstTargets;
    std::set<std::string> burstFolders;
    for (const auto& planned : burst.steps_) {
        JournalRecord record = step(planned.type, planned.path, planned.to);
        check(record, burstTargets);
        if (record.type == Type::Folder && !burstFolders.insert(record.path).second) raiseSystemError(EEXIST);
        if (record.type != Type::Folder) burstTargets.insert(record.to);
        records.push_back(std::move(record));
    }
    journal_.append(records, true);
    for (const auto& record : records) note(record);
    for (const auto& record : records) make(record);
}

void FolderChange::commit() {
    if (finished_) throw AppError("The change of the application folder has ended already.");
    // A commit that outlives the renames or the new files' contents in a power
    // failure would keep a folder that is neither old nor new.
    if (!platform::syncFileSystem(appDir_)) raiseSystemError(platform::lastError());
    JournalRecord record;
    record.type = Type::Commit;
    journal_.append({record}, true);
    finished_ = true;
    try {
        putRight(appDir_, journal_);
    } catch (...) {
        // Committed all the same: the next start finishes the clean-up.
    }
    journal_.close();
}

void FolderChange::rollBack() {
    if (finished_) return;
    finished_ = true;
    // Still locked while it is undone: no second copy ever finds it free.
    if (putRight(appDir_, journal_).outcome == RecoveredChange::Outcome::Unreadable) {
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
    return putRight(appDir, *journal);
}

}  // namespace quill
