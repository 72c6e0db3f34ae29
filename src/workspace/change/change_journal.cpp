#include "workspace/change/change_journal.h"

#include "platform/error.h"
#include "platform/file_lock.h"
#include "platform/file_reading.h"
#include "platform/file_status.h"
#include "platform/files.h"
#include "workspace/change/file_ops.h"

#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace quill {

namespace {

constexpr char kFieldSeparator = '\t';

struct TypeName {
    JournalRecord::Type type;
    const char* name;
    int paths;     // 0, 1 or 2 path fields
    bool text;     // one text field
    bool stamped;  // one more field, which journals of earlier versions lack
};

constexpr TypeName kTypes[] = {
    {JournalRecord::Type::Begin, "begin", 0, true, false},
    {JournalRecord::Type::WorkFolder, "work", 1, false, false},
    {JournalRecord::Type::Scratch, "scratch", 1, false, false},
    {JournalRecord::Type::Folder, "folder", 1, false, false},
    {JournalRecord::Type::Move, "move", 2, false, true},
    {JournalRecord::Type::Aside, "aside", 2, false, true},
    {JournalRecord::Type::Undone, "undone", 0, true, false},
    {JournalRecord::Type::Commit, "commit", 0, false, false},
    {JournalRecord::Type::Final, "final", 0, true, false},
    {JournalRecord::Type::Checked, "checked", 0, false, false},
};

const TypeName& nameOf(JournalRecord::Type type) {
    for (const auto& entry : kTypes) {
        if (entry.type == type) return entry;
    }
    return kTypes[0];
}

// Control characters and the escape character itself; every other byte,
// UTF-8 or not, stays as it is.
std::string escape(const std::string& field) {
    std::string out;
    out.reserve(field.size());
    for (const char ch : field) {
        const auto c = static_cast<unsigned char>(ch);
        if (ch == '\\') out += "\\\\";
        else if (ch == '\t') out += "\\t";
        else if (ch == '\n') out += "\\n";
        else if (ch == '\r') out += "\\r";
        else if (c < 0x20 || c == 0x7f) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += ch;
        }
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool unescape(const std::string& field, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            out += field[i];
            continue;
        }
        if (++i == field.size()) return false;
        switch (field[i]) {
        case '\\': out += '\\'; break;
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 'x': {
            if (i + 2 >= field.size()) return false;
            const int high = hexValue(field[i + 1]);
            const int low = hexValue(field[i + 2]);
            if (high < 0 || low < 0) return false;
            out += static_cast<char>(high * 16 + low);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

std::uint32_t checkSum(const std::string& text) {
    return static_cast<std::uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
}

// A relative path that stays inside the folder: a record that points anywhere
// else was not written by us.
bool isInsidePath(const std::string& path) {
    if (path.empty() || path.front() == platform::kSeparator) return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find(platform::kSeparator, start);
        const std::string level = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (level.empty() || level == "." || level == "..") return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

bool validText(const JournalRecord& record) {
    if (record.type == JournalRecord::Type::Begin) return record.text == "installation" || record.text == "update";
    if (record.type == JournalRecord::Type::Undone || record.type == JournalRecord::Type::Final) {
        return !record.text.empty() && record.text.size() < 10 &&
               record.text.find_first_not_of("0123456789") == std::string::npos;
    }
    return true;
}

enum class LineCheck { Good, Torn, NotUnderstood };

// Torn: the line is not as it was written (cut, garbled); NotUnderstood: it
// is whole, but no record this program writes.
LineCheck parseLine(const std::string& line, JournalRecord& record) {
    if (line.size() < 10 || line[8] != ' ') return LineCheck::Torn;
    std::uint32_t sum = 0;
    for (int i = 0; i < 8; ++i) {
        const int digit = hexValue(line[i]);
        if (digit < 0) return LineCheck::Torn;
        sum = sum * 16 + static_cast<std::uint32_t>(digit);
    }
    const std::string content = line.substr(9);
    if (checkSum(content) != sum) return LineCheck::Torn;

    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = content.find(kFieldSeparator, start);
        fields.push_back(content.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    const TypeName* kind = nullptr;
    for (const auto& entry : kTypes) {
        if (fields[0] == entry.name) kind = &entry;
    }
    const std::size_t plain = 1u + static_cast<std::size_t>(kind ? kind->paths : 0) + (kind && kind->text ? 1u : 0u);
    if (!kind || (fields.size() != plain && !(kind->stamped && fields.size() == plain + 1))) {
        return LineCheck::NotUnderstood;
    }

    record = JournalRecord{};
    record.type = kind->type;
    std::size_t next = 1;
    const bool understood =
        (kind->paths < 1 || (unescape(fields[next++], record.path) && isInsidePath(record.path))) &&
        (kind->paths < 2 || (unescape(fields[next++], record.to) && isInsidePath(record.to))) &&
        (!kind->text || unescape(fields[next++], record.text)) &&
        (next == fields.size() || unescape(fields[next++], record.stamp)) && validText(record);
    return understood ? LineCheck::Good : LineCheck::NotUnderstood;
}

// The same file as the name shows now: a journal its owner removed between
// our open and our lock is no journal any more.
bool stillNamed(int fd, const std::string& path) {
    platform::FileStatus held, named;
    return platform::openFileStatus(fd, held) && platform::statusOf(path, named) && platform::sameFile(held, named);
}

[[noreturn]] void raiseJournalError(const std::string& path, int error) {
    throw AppError("The journal of changes \"" + path + "\" cannot be written. " + platform::systemErrorText(error));
}

void (*g_pointHook)() = nullptr;

}  // namespace

std::string journalPath(const std::string& appDir) { return appDir + ".final_inst.journal"; }

// Written and locked there before it gets its name, so that no other copy of
// the program ever finds it unlocked.
std::string journalDraftOf(const std::string& journalPath) { return journalPath + ".new"; }

std::string journalLine(const JournalRecord& record) {
    const TypeName& kind = nameOf(record.type);
    std::string content = kind.name;
    if (kind.paths >= 1) content += kFieldSeparator + escape(record.path);
    if (kind.paths >= 2) content += kFieldSeparator + escape(record.to);
    if (kind.text) content += kFieldSeparator + escape(record.text);
    if (kind.stamped && !record.stamp.empty()) content += kFieldSeparator + escape(record.stamp);
    char sum[10];
    std::snprintf(sum, sizeof sum, "%08x ", static_cast<unsigned>(checkSum(content)));
    return sum + content + "\n";
}

std::vector<JournalRecord> parseJournal(const std::string& bytes, std::size_t& validSize, bool* whole) {
    std::vector<JournalRecord> records;
    bool readWhole = true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) break;  // the end, or a last line cut short
        JournalRecord record;
        const LineCheck check = parseLine(bytes.substr(start, end - start), record);
        if (check != LineCheck::Good) {
            // Only the last line can be torn by a crash; anything else means
            // the records cannot be trusted to be all there is.
            readWhole = check == LineCheck::Torn && end + 1 == bytes.size();
            break;
        }
        records.push_back(std::move(record));
        start = end + 1;
    }
    if (!records.empty() && records.front().type != JournalRecord::Type::Begin) readWhole = false;
    validSize = start;
    if (whole) *whole = readWhole;
    return records;
}

JournalFile JournalFile::create(const std::string& path, const JournalRecord& first) {
    const std::string draft = journalDraftOf(path);
    int fd = -1;
    // A start-up's look at an abandoned draft holds it for a moment, and one
    // that another copy writes has its name only until it is renamed: both
    // give way soon, and a journal in place then refuses the rename.
    for (int attempt = 0; fd < 0; ++attempt) {
        if (attempt > 0) platform::sleepMilliseconds(1);
        fd = platform::openFileForWriting(draft, platform::Opening::createOrExisting, true, 0644);
        if (fd < 0) raiseJournalError(path, platform::lastError());
        // Held until the change ends, or until the process dies however it
        // dies; a draft that a killed run left behind is ours once locked.
        const bool locked = platform::tryLockFile(fd, platform::LockKind::exclusive);
        const int error = platform::lastError();
        if (!locked || !stillNamed(fd, draft)) {
            platform::closeFile(fd);
            fd = -1;
            if (!locked && error != EBUSY) raiseJournalError(path, error);
            if (attempt == 1000) raiseJournalError(path, EBUSY);
        }
    }
    JournalFile file(path, fd, 0);
    try {
        if (!platform::truncateFile(fd, 0)) raiseJournalError(path, platform::lastError());
        file.write({first}, true);
        // Never over another journal: two changes must not both think they own it.
        if (!platform::renamePath(draft, path)) raiseJournalError(path, platform::lastError());
    } catch (...) {
        platform::deleteFile(draft);
        throw;
    }
    // The journal is no use if a crash can lose its name.
    if (!platform::syncFolder(folderHolding(path))) raiseJournalError(path, platform::lastError());
    journalPoint();
    return file;
}

std::optional<JournalFile> JournalFile::takeOver(const std::string& path) {
    const int fd = platform::openFileForWriting(path, platform::Opening::existing, true);
    if (fd < 0 && platform::lastError() == ENOENT) return std::nullopt;
    if (fd < 0) {
        throw AppError("The journal of changes \"" + path + "\" cannot be read. " +
                       platform::systemErrorText(platform::lastError()));
    }
    JournalFile file(path, fd, 0);
    if (!platform::tryLockFile(fd, platform::LockKind::exclusive)) {
        if (platform::lastError() == EBUSY) return std::nullopt;
        raiseJournalError(path, platform::lastError());
    }
    if (!stillNamed(fd, path)) return std::nullopt;
    return file;
}

bool JournalFile::readRecords(std::vector<JournalRecord>& records) {
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const std::int64_t n = platform::readFileAt(fd_, bytes.size(), buffer, sizeof buffer);
        if (n < 0) {
            throw AppError("The journal of changes \"" + path_ + "\" cannot be read. " +
                           platform::systemErrorText(platform::lastError()));
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    bool whole = true;
    std::size_t validSize = 0;
    records = parseJournal(bytes, validSize, &whole);
    // Left exactly as it is: it is not ours to cut.
    if (!whole) return false;
    // What follows a torn line could never be read back.
    if (validSize < bytes.size() && !platform::truncateFile(fd_, validSize)) raiseJournalError(path_, platform::lastError());
    size_ = validSize;
    return true;
}

void removeAbandonedDraft(const std::string& path) {
    const std::string draft = journalDraftOf(path);
    const int fd = platform::openFileForReading(draft);
    if (fd < 0) return;
    // A draft that another copy is writing now is locked by it.
    if (platform::tryLockFile(fd, platform::LockKind::exclusive) && stillNamed(fd, draft)) platform::deleteFile(draft);
    platform::closeFileForReading(fd);
}

JournalFile::JournalFile(JournalFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(other.fd_), size_(other.size_) {
    other.fd_ = -1;
}

JournalFile& JournalFile::operator=(JournalFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) platform::closeFile(fd_);
        path_ = std::move(other.path_);
        fd_ = other.fd_;
        size_ = other.size_;
        other.fd_ = -1;
    }
    return *this;
}

JournalFile::~JournalFile() {
    if (fd_ >= 0) platform::closeFile(fd_);
}

void JournalFile::append(const std::vector<JournalRecord>& records, bool durable) {
    write(records, durable);
    journalPoint();
}

void JournalFile::write(const std::vector<JournalRecord>& records, bool durable) {
    if (fd_ < 0) raiseJournalError(path_, EBADF);
    std::string bytes;
    for (const auto& record : records) {
        std::string line = journalLine(record);
        // A record the reading would stop at hides every record after it, the
        // commit too; refused before any step of it is made.
        JournalRecord readBack;
        if (parseLine(line.substr(0, line.size() - 1), readBack) != LineCheck::Good) {
            throw AppError("The journal of changes \"" + path_ + "\" cannot record a step on \"" + record.path +
                           "\" \"" + record.to + "\".");
        }
        bytes += line;
    }
    if (!platform::writeToFile(fd_, bytes.data(), bytes.size())) {
        const int error = platform::lastError();
        // A half line would hide every record after it.
        platform::truncateFile(fd_, size_);
        raiseJournalError(path_, error);
    }
    if (durable && !platform::syncFileData(fd_)) {
        const int error = platform::lastError();
        // Records the disk may not hold must not be acted on, here or by a rollback.
        platform::truncateFile(fd_, size_);
        raiseJournalError(path_, error);
    }
    size_ += bytes.size();
}

void JournalFile::sync() {
    if (!platform::syncFileData(fd_)) raiseJournalError(path_, platform::lastError());
}

void JournalFile::close() {
    if (fd_ >= 0) platform::closeFile(fd_);
    fd_ = -1;
}

void removeJournal(const std::string& path) {
    if (!platform::deleteFile(path) && platform::lastError() != ENOENT) {
        throw AppError("The journal of changes \"" + path + "\" cannot be removed. " +
                       platform::systemErrorText(platform::lastError()));
    }
    platform::syncFolder(folderHolding(path));
    journalPoint();
}

void setJournalPointHook(void (*hook)()) { g_pointHook = hook; }

void journalPoint() {
    if (g_pointHook) g_pointHook();
}

}  // namespace quill
