#include "power_cut.h"

#include "support/temp_folder.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fcntl.h>
#include <random>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace quill::testing {

using Kind = platform::FileEvent::Kind;

struct PowerCutRecorder::Recorded {
    Kind kind;
    std::string path;
    std::string to;
    int fd;
    std::uint64_t offset;
    std::string data;
    long long time;  // the file's modification time after a write, truncation or creation
};

namespace {

long long nanos(const struct timespec& t) { return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec; }

std::string parentOf(const std::string& rel) {
    const auto cut = rel.rfind('/');
    return cut == std::string::npos ? std::string() : rel.substr(0, cut);
}

bool isUnder(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

struct Node {
    bool folder = false;
    std::string durable;
    std::string current;
    long long durableTime = 0;
    long long currentTime = 0;
    unsigned mode = 0644;
    struct Op {
        bool truncation = false;
        std::uint64_t offset = 0;
        std::string data;
        long long time = 0;
    };
    std::vector<Op> pending;  // since the last sync of its data
};

void applyData(std::string& bytes, const Node::Op& op, std::size_t keep) {
    if (op.truncation) {
        bytes.resize(op.offset, '\0');
        return;
    }
    if (bytes.size() < op.offset + keep) bytes.resize(op.offset + keep, '\0');
    bytes.replace(op.offset, keep, op.data, 0, keep);
}

// Relative path -> node; "" is the root.
using Names = std::map<std::string, int>;

enum class NameKind { Create, Rename, Replace, Remove, MakeFolder, RemoveFolder };

struct NameOp {
    NameKind kind;
    std::string path;
    std::string to;
    int node = -1;
    std::set<int> unsynced;  // folders that must be synced before it is on the disk for certain
};

void eraseTree(Names& names, const std::string& path) {
    names.erase(path);
    for (auto it = names.upper_bound(path); it != names.end() && it->first.compare(0, path.size(), path) == 0;) {
        it = isUnder(it->first, path) ? names.erase(it) : std::next(it);
    }
}

// Applies an operation whatever came before it was kept; one that no longer
// fits the names (its source or folder lost) is lost with them.
void applyName(Names& names, const NameOp& op) {
    switch (op.kind) {
    case NameKind::Create:
    case NameKind::MakeFolder:
        if (names.count(parentOf(op.path)) && !names.count(op.path)) names[op.path] = op.node;
        break;
    case NameKind::Remove:
        names.erase(op.path);
        break;
    case NameKind::RemoveFolder:
        eraseTree(names, op.path);
        break;
    case NameKind::Rename:
    case NameKind::Replace: {
        if (!names.count(op.path) || !names.count(parentOf(op.to)) || isUnder(op.to, op.path)) break;
        // Made only over a free name: with the name still taken, it never happened.
        if (op.kind == NameKind::Rename && names.count(op.to)) break;
        std::vector<std::pair<std::string, int>> moved;
        for (auto it = names.lower_bound(op.path); it != names.end(); ++it) {
            if (it->first == op.path) moved.emplace_back(op.to, it->second);
            else if (isUnder(it->first, op.path)) moved.emplace_back(op.to + it->first.substr(op.path.size()), it->second);
        }
        eraseTree(names, op.path);
        eraseTree(names, op.to);
        for (auto& [path, node] : moved) names[path] = node;
        break;
    }
    }
}

struct Entry {
    bool folder = false;
    std::string bytes;
    long long time = 0;
    unsigned mode = 0;
};
using State = std::map<std::string, Entry>;

}  // namespace

struct PowerCutRecorder::Model {
    std::vector<Node> nodes;
    Names base;               // the names with every operation already on the disk applied
    std::deque<NameOp> ops;   // the rest, in order
    Names now;
    std::map<int, int> files;  // open descriptor -> node
    std::vector<std::string> faults;

    int lookUp(const std::string& rel) const {
        const auto found = now.find(rel);
        return found == now.end() ? -1 : found->second;
    }

    int addNode(bool folder, long long time) {
        Node node;
        node.folder = folder;
        node.durableTime = node.currentTime = time;
        nodes.push_back(node);
        return static_cast<int>(nodes.size()) - 1;
    }

    void addOp(NameOp op, std::initializer_list<std::string> folders) {
        for (const auto& folder : folders) {
            const int id = lookUp(folder);
            if (id >= 0) op.unsynced.insert(id);
        }
        applyName(now, op);
        ops.push_back(std::move(op));
    }

    void settle() {
        while (!ops.empty() && ops.front().unsynced.empty()) {
            applyName(base, ops.front());
            ops.pop_front();
        }
    }

    void dataSynced(int id) {
        if (id < 0) return;
        Node& node = nodes[static_cast<std::size_t>(id)];
        node.durable = node.current;
        node.durableTime = node.currentTime;
        node.pending.clear();
    }

    void fault(const std::string& what) { faults.push_back(what); }

    template <typename Keep>
    Names namesKeeping(Keep&& keep) const {
        Names names = base;
        for (const auto& op : ops) {
            if (op.unsynced.empty() || keep()) applyName(names, op);
        }
        return names;
    }

    // The files under names with their synced data (durable) or all of it.
    State stateOf(const Names& names, bool durable) const {
        return stateOf(names, [&](const Node& node, Entry& entry) {
            entry.bytes = durable ? node.durable : node.current;
            entry.time = durable ? node.durableTime : node.currentTime;
        });
    }

    template <typename DataOf>
    State stateOf(const Names& names, DataOf&& dataOf) const {
        State state;
        for (const auto& [path, id] : names) {
            if (path.empty()) continue;
            const Node& node = nodes[static_cast<std::size_t>(id)];
            Entry entry;
            entry.folder = node.folder;
            entry.mode = node.mode;
            if (!node.folder) dataOf(node, entry);
            state[path] = std::move(entry);
        }
        return state;
    }

    // One event, its paths made relative to the root where they lie inside it.
    void apply(const Recorded& e, const std::string& path, const std::string& to, bool pathInside, bool toInside) {
        switch (e.kind) {
        case Kind::Open: {
            if (!pathInside) break;
            int id = lookUp(path);
            if (id < 0) {
                id = addNode(false, e.time);
                addOp({NameKind::Create, path, {}, id, {}}, {parentOf(path)});
            }
            files[e.fd] = id;
            break;
        }
        case Kind::Write:
        case Kind::Truncate: {
            const auto found = files.find(e.fd);
            if (found == files.end()) break;
            Node& node = nodes[static_cast<std::size_t>(found->second)];
            Node::Op op{e.kind == Kind::Truncate, e.offset, e.data, e.time};
            applyData(node.current, op, op.data.size());
            node.currentTime = e.time;
            node.pending.push_back(std::move(op));
            break;
        }
        case Kind::SyncData:
            if (e.fd >= 0) {
                const auto found = files.find(e.fd);
                if (found != files.end()) dataSynced(found->second);
            } else if (pathInside) {
                dataSynced(lookUp(path));
            }
            break;
        case Kind::Close:
            files.erase(e.fd);
            break;
        case Kind::Rename:
        case Kind::Replace:
            if (!pathInside && !toInside) break;
            if (pathInside != toInside || lookUp(path) < 0) {
                fault("a rename the model cannot follow: " + e.path + " -> " + e.to);
                break;
            }
            addOp({e.kind == Kind::Rename ? NameKind::Rename : NameKind::Replace, path, to, -1, {}},
                  {parentOf(path), parentOf(to)});
            break;
        case Kind::Remove:
        case Kind::RemoveFolder:
            if (!pathInside) break;
            if (lookUp(path) < 0) fault("a removal of what the model does not have: " + e.path);
            addOp({e.kind == Kind::Remove ? NameKind::Remove : NameKind::RemoveFolder, path, {}, -1, {}},
                  {parentOf(path)});
            break;
        case Kind::MakeFolder:
            if (!pathInside) break;
            addOp({NameKind::MakeFolder, path, {}, addNode(true, 0), {}}, {parentOf(path)});
            break;
        case Kind::SetMode: {
            if (!pathInside) break;
            const int id = lookUp(path);
            if (id >= 0) nodes[static_cast<std::size_t>(id)].mode = static_cast<unsigned>(e.offset & 07777);
            break;
        }
        case Kind::SyncFolder: {
            if (!pathInside) break;
            const int id = lookUp(path);
            for (auto& op : ops) op.unsynced.erase(id);
            settle();
            break;
        }
        case Kind::SyncAll:
            for (auto& op : ops) op.unsynced.clear();
            settle();
            for (std::size_t id = 0; id < nodes.size(); ++id) dataSynced(static_cast<int>(id));
            break;
        }
    }
};

namespace {

std::string serialized(const State& state) {
    std::string out;
    for (const auto& [path, entry] : state) {
        out += path;
        out += '\0';
        out += entry.folder ? "d" : "f" + std::to_string(entry.time) + ":" + std::to_string(entry.mode) + ":";
        out += entry.bytes;
        out += '\0';
    }
    return out;
}

void clearFolder(const std::string& root) {
    for (const auto& child : fs::directory_iterator(root)) removeForcibly(child.path().string());
}

void writeWhole(const std::string& path, const Entry& entry) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    std::size_t done = 0;
    while (done < entry.bytes.size()) {
        const ssize_t n = ::write(fd, entry.bytes.data() + done, entry.bytes.size() - done);
        if (n <= 0) {
            ::close(fd);
            throw std::runtime_error("cannot write " + path);
        }
        done += static_cast<std::size_t>(n);
    }
    ::fchmod(fd, entry.mode);
    const struct timespec times[2] = {{entry.time / 1000000000LL, entry.time % 1000000000LL},
                                      {entry.time / 1000000000LL, entry.time % 1000000000LL}};
    ::futimens(fd, times);
    ::close(fd);
}

void materialize(const std::string& root, const State& state) {
    clearFolder(root);
    for (const auto& [path, entry] : state) {
        const std::string full = root + path;
        if (entry.folder) fs::create_directory(full);
        else writeWhole(full, entry);
    }
}

}  // namespace

PowerCutRecorder::PowerCutRecorder(const std::string& root) : root_(fs::path(root).lexically_normal().string()) {
    if (root_.size() > 1 && root_.back() == '/') root_.pop_back();
    auto model = std::make_shared<Model>();
    model->now[""] = model->addNode(true, 0);
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) != 0 || S_ISLNK(st.st_mode)) {
            throw std::runtime_error("the power cut cannot rebuild " + entry.path().string());
        }
        const std::string rel = fs::relative(entry.path(), root_).generic_string();
        const int id = model->addNode(S_ISDIR(st.st_mode), nanos(st.st_mtim));
        Node& node = model->nodes[static_cast<std::size_t>(id)];
        node.mode = st.st_mode & 07777;
        if (!node.folder) node.durable = node.current = readFile(entry.path().string());
        model->now[rel] = id;
    }
    model->base = model->now;
    start_ = std::move(model);
    listen();
}

PowerCutRecorder::PowerCutRecorder(const std::string& root, std::shared_ptr<const Model> start)
    : root_(root), start_(std::move(start)) {
    listen();
}

void PowerCutRecorder::listen() {
    platform::setFileObserver(this);
    listening_ = true;
}

PowerCutRecorder::~PowerCutRecorder() { stop(); }

void PowerCutRecorder::stop() {
    if (listening_) platform::setFileObserver(nullptr);
    listening_ = false;
}

void PowerCutRecorder::observe(const platform::FileEvent& event) {
    Recorded recorded{event.kind, event.path, event.to, event.fd, event.offset, std::string(event.data), 0};
    if (event.fd >= 0 && (event.kind == Kind::Open || event.kind == Kind::Write || event.kind == Kind::Truncate)) {
        struct stat st {};
        if (::fstat(event.fd, &st) == 0) recorded.time = nanos(st.st_mtim);
    }
    events_.push_back(std::move(recorded));
}

namespace {

// The path relative to root, or false when it lies outside.
bool relativeTo(const std::string& root, const std::string& path, std::string& rel) {
    if (path.empty()) return false;
    std::string normal = fs::path(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    if (normal == root) {
        rel.clear();
        return true;
    }
    if (!isUnder(normal, root)) return false;
    rel = normal.substr(root.size() + 1);
    return true;
}

const char* kindName(Kind kind) {
    switch (kind) {
    case Kind::Open: return "open";
    case Kind::Write: return "write";
    case Kind::Truncate: return "truncate";
    case Kind::SyncData: return "sync data";
    case Kind::Close: return "close";
    case Kind::Rename: return "rename";
    case Kind::Replace: return "replace";
    case Kind::Remove: return "remove";
    case Kind::MakeFolder: return "make folder";
    case Kind::RemoveFolder: return "remove folder";
    case Kind::SetMode: return "set mode";
    case Kind::SyncFolder: return "sync folder";
    case Kind::SyncAll: return "sync all";
    }
    return "?";
}

}  // namespace

std::string PowerCutRecorder::describe(const Recorded& event) {
    std::string text = kindName(event.kind);
    if (!event.path.empty()) text += " " + event.path;
    if (!event.to.empty()) text += " -> " + event.to;
    if (event.fd >= 0) text += " fd " + std::to_string(event.fd);
    if (event.kind == Kind::Write) text += " " + std::to_string(event.data.size()) + " bytes at " + std::to_string(event.offset);
    return text;
}

void PowerCutRecorder::replay(Model& model, const Recorded& event) const {
    std::string path;
    std::string to;
    const bool pathInside = relativeTo(root_, event.path, path);
    const bool toInside = relativeTo(root_, event.to, to);
    model.apply(event, path, to, pathInside, toInside);
}

std::vector<std::string> PowerCutRecorder::faults() const {
    Model model = *start_;
    for (const auto& event : events_) replay(model, event);
    return model.faults;
}

std::size_t PowerCutRecorder::events() const { return events_.size(); }

namespace {

TreeSnapshot snapshotOf(const State& state) {
    TreeSnapshot tree;
    for (const auto& [path, entry] : state) {
        if (entry.folder) tree[path + "/"] = "";
        else tree[path] = withMode(entry.mode, entry.bytes);
    }
    return tree;
}

}  // namespace

TreeSnapshot PowerCutRecorder::modelNow() const {
    Model model = *start_;
    for (const auto& event : events_) replay(model, event);
    return snapshotOf(model.stateOf(model.now, false));
}

TreeSnapshot PowerCutRecorder::surelyOnDisk() const {
    Model model = *start_;
    for (const auto& event : events_) replay(model, event);
    return snapshotOf(model.stateOf(model.namesKeeping([] { return false; }), true));
}

PowerCutCounts PowerCutRecorder::forEachPowerCut(unsigned seed, int partialPerPoint,
                                                 const std::function<void(const std::string&)>& check) const {
    std::mt19937 random(seed);
    auto coin = [&] { return random() % 2 == 0; };
    Model model = *start_;
    PowerCutCounts counts;
    std::set<std::size_t> seen;
    std::string at = "before the first event";
    auto tryState = [&](const State& state, std::size_t& counter, const char* how) {
        if (!seen.insert(std::hash<std::string>{}(serialized(state))).second) {
            ++counts.duplicates;
            return;
        }
        ++counter;
        materialize(root_ + "/", state);
        check(at + ", " + how);
    };

    for (std::size_t point = 0; point <= events_.size(); ++point) {
        if (point > 0) {
            replay(model, events_[point - 1]);
            at = "after event " + std::to_string(point) + " of " + std::to_string(events_.size()) + " (" +
                 describe(events_[point - 1]) + ")";
        }
        ++counts.points;
        tryState(model.stateOf(model.namesKeeping([] { return false; }), true), counts.lostAll,
                 "everything unsynced lost");
        tryState(model.stateOf(model.now, false), counts.keptAll, "everything kept");
        const bool unsynced = !model.ops.empty() || std::any_of(model.nodes.begin(), model.nodes.end(),
                                                                [](const Node& n) { return !n.pending.empty(); });
        if (!unsynced) continue;
        for (int sample = 0; sample < partialPerPoint; ++sample) {
            const Names names = model.namesKeeping(coin);
            const State state = model.stateOf(names, [&](const Node& node, Entry& entry) {
                entry.bytes = node.durable;
                entry.time = node.durableTime;
                for (const Node::Op& op : node.pending) {
                    if (!coin()) continue;
                    // A write may be torn anywhere; nothing after it is kept.
                    const bool torn = !op.truncation && !op.data.empty() && random() % 3 == 0;
                    applyData(entry.bytes, op, torn ? random() % op.data.size() : op.data.size());
                    entry.time = op.time;
                    if (torn) break;
                }
            });
            tryState(state, counts.partial, "some of it kept");
        }
    }
    return counts;
}

std::size_t PowerCutRecorder::forEachKill(
    const std::function<void(const std::string&, PowerCutRecorder&)>& check) const {
    Model model = *start_;
    std::set<std::size_t> seen;
    for (std::size_t point = 0; point <= events_.size(); ++point) {
        if (point > 0) replay(model, events_[point - 1]);
        const State state = model.stateOf(model.now, false);
        if (!seen.insert(std::hash<std::string>{}(serialized(state))).second) continue;
        materialize(root_ + "/", state);
        auto after = std::make_shared<Model>(model);
        after->files.clear();  // the process is gone, and its descriptors with it
        PowerCutRecorder next(root_, std::move(after));
        check("killed after event " + std::to_string(point) + " of " + std::to_string(events_.size()) +
                  (point > 0 ? " (" + describe(events_[point - 1]) + ")" : std::string()),
              next);
    }
    return seen.size();
}

}  // namespace quill::testing
