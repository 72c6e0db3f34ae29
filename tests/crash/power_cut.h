// A simulated power cut. The recorder listens to the platform's file
// primitives while real code changes a folder, and keeps a model of what the
// disk holds for certain (synced) beside what the process has done. For each
// point of the recording it then rebuilds, in the same folder, the states a
// file system may leave when the power goes just then:
//  - the data written to a file since its last sync is lost, kept, or kept in
//    part (some writes, the last one torn);
//  - a creation, rename or removal stays only when every folder it touched was
//    synced after it, or may be lost;
//  - what was synced stays.
#pragma once

#include "platform/file_events.h"
#include "support/tree_snapshot.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quill::testing {

struct PowerCutCounts {
    std::size_t points = 0;      // moments of the recording a cut was tried at
    std::size_t lostAll = 0;     // distinct states that lose everything unsynced
    std::size_t keptAll = 0;     // distinct states that keep everything (kill -9)
    std::size_t partial = 0;     // distinct sampled states in between
    std::size_t duplicates = 0;  // states already checked at an earlier point
    std::size_t states() const { return lostAll + keptAll + partial; }
};

class PowerCutRecorder : public platform::FileObserver {
public:
    // Takes everything under root as synced and starts listening.
    explicit PowerCutRecorder(const std::string& root);
    ~PowerCutRecorder() override;
    PowerCutRecorder(const PowerCutRecorder&) = delete;
    PowerCutRecorder& operator=(const PowerCutRecorder&) = delete;

    void observe(const platform::FileEvent& event) override;
    void stop();

    std::size_t events() const;
    // What the model could not follow: a rename into or out of the folder, or
    // a removal of what it never saw.
    std::vector<std::string> faults() const;
    // The folder as the model has it after every event: it must be what is on
    // the disk, or a change went past the primitives.
    TreeSnapshot modelNow() const;
    // The folder a cut after the last event leaves: all of it must be synced.
    TreeSnapshot surelyOnDisk() const;

    // Rebuilds root as each distinct state of a cut after each event (and
    // before the first) and calls check on it with where the cut is;
    // partialPerPoint states are sampled with a fixed seed where some change
    // is unsynced.
    PowerCutCounts forEachPowerCut(unsigned seed, int partialPerPoint,
                                   const std::function<void(const std::string& where)>& check) const;

    // Rebuilds root as a kill after each event leaves it, everything done but
    // not all of it synced, and calls check with a recorder that listens on
    // from there: a power cut in what runs next may still lose what the killed
    // process left unsynced. Returns the distinct states.
    std::size_t forEachKill(const std::function<void(const std::string& where, PowerCutRecorder& next)>& check) const;

private:
    struct Recorded;
    struct Model;
    PowerCutRecorder(const std::string& root, std::shared_ptr<const Model> start);
    void listen();
    void replay(Model& model, const Recorded& event) const;
    static std::string describe(const Recorded& event);

    std::string root_;
    bool listening_ = false;
    std::vector<Recorded> events_;
    std::shared_ptr<const Model> start_;
};

}  // namespace quill::testing
