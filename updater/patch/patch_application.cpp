#include "updater/patch/patch_application.h"

#include "updater/patch/vcdiff_decoder.h"

namespace lumoradex {
namespace {

class PatchInput final : public VcdiffInput {
public:
    explicit PatchInput(FileReader& patch) : patch_(patch) {}
    std::size_t Read(std::byte* data, std::size_t size) override {
        const std::size_t read = patch_.ReadAt(offset_, data, size);
        offset_ += read;
        return read;
    }

private:
    FileReader& patch_;
    std::uint64_t offset_ = 0;
};

// The installed copy's size is read once: it is held from being written while it is read.
class InstalledSource final : public VcdiffSource {
public:
    explicit InstalledSource(FileReader& copy) : copy_(copy), size_(copy.Size()) {}
    std::uint64_t Size() const override { return size_; }
    void ReadAt(std::uint64_t offset, std::byte* data, std::size_t size) override {
        if (copy_.ReadAt(offset, data, size) != size)
            throw VcdiffError("the installed copy ended early");
    }

private:
    FileReader& copy_;
    std::uint64_t size_;
};

class ResultOutput final : public VcdiffOutput {
public:
    explicit ResultOutput(const std::function<void(const std::byte*, std::size_t)>& write) : write_(write) {}
    void Write(const std::byte* data, std::size_t size) override { write_(data, size); }

private:
    const std::function<void(const std::byte*, std::size_t)>& write_;
};

} // namespace

// A window of the patch holds at most a window of new bytes and its instructions: the delta's bound
// leaves room for the instructions of a window made of many small additions.
void ApplyPatch(FileReader& patch, FileReader& installedCopy, std::uint64_t resultSize,
                const std::function<void(const std::byte* data, std::size_t size)>& write) {
    PatchInput input(patch);
    InstalledSource source(installedCopy);
    ResultOutput output(write);
    VcdiffLimits limits;
    limits.maxTargetWindow = kMaxPatchWindow;
    limits.maxDeltaEncoding = kMaxPatchWindow + kMaxPatchWindow / 2;
    limits.maxTargetSize = resultSize;
    DecodeVcdiff(input, source, output, limits);
}

} // namespace lumoradex
