#pragma once
// The commit of a staged release: every installed file replaced by its staged new content, all or
// none. Each replaced file's old content is kept aside, under "Old" + its name, and each new file
// stays held, shared with no one, until the whole commit has succeeded; a replacement that fails
// puts every file already replaced back, which no other program can prevent. No installed
// name is ever missing, even for an instant: a kill at any moment leaves every name holding a whole
// old or a whole new file, and the next run clears what was kept aside. Platform-free.

#include <string>
#include <vector>

#include "updater/install/staged_file.h"
#include "updater/install/update_services.h"
#include "updater/ports/environment.h"
#include "updater/ports/installation_files.h"
#include "updater/ports/process_services.h"
#include "updater/ports/update_trace.h"

namespace lumoradex {

class ReleaseCommit {
public:
    // The window, if any, is repainted while a file in use is waited for.
    explicit ReleaseCommit(const UpdateServices& services);

    // Replaces the targets in the order given; true when every one was. Otherwise every target
    // already replaced is put back, and every temporary file removed.
    bool Commit(std::vector<StagedFile> staged);

private:
    struct Replaced {
        StagedFile* file;
        bool keptAside; // false: the folder lacked the file, which the rollback removes again
    };

    void Replace(StagedFile& file);
    void RollBack(const std::vector<Replaced>& replaced);
    void PutBack(const Replaced& done);
    template <class Rename> void RetryWhileInUse(const std::string& target, Rename rename);
    void RemoveQuietly(const std::string& path);

    UpdateServices services_;
};

// What an interrupted commit left in one folder, finished to one whole release. targets: the folder's
// files in the order a commit replaces them, the executable last. False when it could not be
// finished; nothing else may then be done in the folder.
bool FinishInterruptedCommit(const std::vector<std::string>& targets, Environment& environment,
                             InstallationFiles& files);

} // namespace lumoradex
