#include "updater/install/staged_file.h"

#include <utility>

#include "base/failure_rule.h"
#include "base/step_failure.h"

namespace lumoradex {

std::string PrefixedSibling(const std::string& path, std::string_view prefix) {
    const std::size_t separator = path.find_last_of('\\');
    const std::size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
    return path.substr(0, nameStart) + std::string(prefix) + path.substr(nameStart);
}

TemporaryFile::TemporaryFile(InstallationFiles& files, std::string path, WhenDropped dropped)
    : files_(&files), path_(std::move(path)), writer_(files.Create(path_)), dropped_(dropped) {}

TemporaryFile::TemporaryFile(InstallationFiles& files, std::string path, std::unique_ptr<FileWriter> writer)
    : files_(&files), path_(std::move(path)), writer_(std::move(writer)), dropped_(WhenDropped::Kept) {}

std::optional<TemporaryFile> TemporaryFile::Reopen(InstallationFiles& files, std::string path) {
    std::unique_ptr<FileWriter> writer = files.Reopen(path);
    if (!writer)
        return std::nullopt;
    return TemporaryFile(files, std::move(path), std::move(writer));
}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
    if (this != &other) {
        Remove();
        files_ = other.files_;
        path_ = std::move(other.path_);
        writer_ = std::move(other.writer_);
        dropped_ = other.dropped_;
        renamed_ = other.renamed_;
    }
    return *this;
}

TemporaryFile::~TemporaryFile() {
    Remove();
}

FileWriter& TemporaryFile::Writer() const {
    if (!writer_)
        throw StepFailure("Temporary file moved away: " + path_, 0);
    return *writer_;
}

// A target in use keeps the file held, for the caller to try again.
ReplaceResult TemporaryFile::RenameOver(const std::string& target) {
    const ReplaceResult result = Writer().RenameOver(target);
    renamed_ |= result == ReplaceResult::Replaced;
    return result;
}

ReplaceResult TemporaryFile::RenameBack() {
    const ReplaceResult result = Writer().RenameOver(path_);
    renamed_ &= result != ReplaceResult::Replaced;
    return result;
}

// Only what this run created or reopened, and still holds, is removed. A temporary file that cannot
// be deleted now goes at the next run, which removes it before the download.
void TemporaryFile::Remove() noexcept {
    if (!writer_)
        return;
    writer_.reset();
    if (!renamed_ && dropped_ == WhenDropped::Removed)
        SkipOnFailure([&] { files_->Delete(path_); });
}

} // namespace lumoradex
