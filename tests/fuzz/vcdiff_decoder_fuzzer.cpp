// libFuzzer target: the VCDIFF decoder, applying the input as a patch to a fixed 4 KiB old file (the
// one the seeds were made against: bytes of the generator below). Whatever the patch, the decoder reads
// only inside the old file, writes whole windows within the limits, and either finishes or throws
// VcdiffError; and it decodes the same whether the patch arrives whole or a few bytes at a time.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "updater/patch/vcdiff_decoder.h"

namespace {

using namespace lumoradex;

void Require(bool holds) {
    if (!holds)
        std::abort();
}

constexpr std::size_t kOldSize = 4096;

// The seeds' old file: a 32-bit linear congruential generator from seed 1, its top byte each step.
std::vector<std::byte> OldFile() {
    std::vector<std::byte> bytes(kOldSize);
    std::uint32_t state = 1;
    for (std::byte& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::byte>(state >> 24);
    }
    return bytes;
}

class Patch final : public VcdiffInput {
public:
    Patch(const std::uint8_t* data, std::size_t size, std::size_t piece) : data_(data), size_(size), piece_(piece) {}
    std::size_t Read(std::byte* data, std::size_t size) override {
        const std::size_t count = std::min({size, size_ - next_, piece_ + next_ % piece_});
        std::memcpy(data, data_ + next_, count);
        next_ += count;
        return count;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t piece_;
    std::size_t next_ = 0;
};

class OldFileSource final : public VcdiffSource {
public:
    std::uint64_t Size() const override { return bytes_.size(); }
    void ReadAt(std::uint64_t offset, std::byte* data, std::size_t size) override {
        Require(offset <= bytes_.size() && size <= bytes_.size() - offset);
        std::copy_n(bytes_.data() + offset, size, data);
    }

private:
    const std::vector<std::byte> bytes_ = OldFile();
};

class Target final : public VcdiffOutput {
public:
    explicit Target(const VcdiffLimits& limits) : limits_(limits) {}
    void Write(const std::byte* data, std::size_t size) override {
        Require(size > 0 && size <= limits_.maxTargetWindow && size <= limits_.maxTargetSize - bytes.size());
        bytes.append(reinterpret_cast<const char*>(data), size);
    }
    std::string bytes;

private:
    const VcdiffLimits& limits_;
};

// The target, or nothing when the patch is refused; any other exception escapes and is reported.
std::optional<std::string> Decode(const std::uint8_t* data, std::size_t size, std::size_t piece) {
    VcdiffLimits limits;
    limits.maxTargetWindow = 64 * 1024;
    limits.maxDeltaEncoding = 64 * 1024;
    limits.maxTargetSize = 256 * 1024;
    Patch patch(data, size, piece);
    OldFileSource source;
    Target target(limits);
    try {
        DecodeVcdiff(patch, source, target, limits);
    } catch (const VcdiffError&) {
        return std::nullopt;
    }
    return target.bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Require(Decode(data, size, 1 << 20) == Decode(data, size, 3));
    return 0;
}
