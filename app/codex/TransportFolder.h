#pragma once

#include "app/codex/ChildProcess.h"

#include <filesystem>

namespace zorvane {

// The private folder where one process keeps the files of its questions (the selection's picture,
// the answer) while they run: a folder of its own inside the user's Zorvane folder, which only the
// user may enter. The user's folder is `$XDG_RUNTIME_DIR/zorvane`, or `zorvane-<uid>` in the
// temporary folder where the session has no runtime folder. Each process holds a lock for its own
// folder as long as it lives; a folder whose lock nobody holds belongs to a process that died, and
// the next one to start removes it.
class TransportFolder {
public:
    // `base`: the user's folder; none takes the environment's. Never throws: where no folder can
    // be made, path() names one that does not exist and every write there fails with its reason.
    explicit TransportFolder(const Environment& environment, std::optional<std::filesystem::path> base = std::nullopt);
    ~TransportFolder();
    TransportFolder(const TransportFolder&) = delete;
    TransportFolder& operator=(const TransportFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // The user's folder for this environment (not created).
    static std::filesystem::path userFolder(const Environment& environment);
    // Removes the folders of processes that have ended.
    static void removeAbandoned(const std::filesystem::path& userFolder);

private:
    std::filesystem::path path_;
    std::filesystem::path lockPath_;
    int lock_ = -1;
};

} // namespace zorvane
