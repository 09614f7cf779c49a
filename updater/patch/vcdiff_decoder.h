#pragma once
// A VCDIFF (RFC 3284) decoder, for the patches xdelta3 makes with -S none -n: the default code table,
// no secondary compression, windows copying from the old file only. The patch is read in order, the old
// file at the offsets the copies ask for, and the new file is written a whole target window at a time,
// so memory stays within one target window, one delta encoding and 1 MiB of the old file, whatever the
// files' sizes. Platform-free; refusals throw VcdiffError, and what the patch, source or output objects
// throw passes through unchanged.

#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace lumoradex {

// Any patch the decoder refuses: outside RFC 3284, past the limits, or a source/target read that fails.
class VcdiffError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The patch, read from its start to its end in order.
class VcdiffInput {
public:
    virtual ~VcdiffInput() = default;
    // Up to size bytes; 0 only at the end of the patch. Throws when the patch cannot be read.
    virtual std::size_t Read(std::byte* data, std::size_t size) = 0;
};

// The old file the patch applies to, read at any offset.
class VcdiffSource {
public:
    virtual ~VcdiffSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Exactly size bytes at offset (within Size()); throws when they cannot be read.
    virtual void ReadAt(std::uint64_t offset, std::byte* data, std::size_t size) = 0;
};

// Where the new file's bytes go, in order, one target window at a time.
class VcdiffOutput {
public:
    virtual ~VcdiffOutput() = default;
    virtual void Write(const std::byte* data, std::size_t size) = 0;
};

struct VcdiffLimits {
    std::size_t maxTargetWindow = 16 * 1024 * 1024; // a window's target length
    std::size_t maxDeltaEncoding =
        16 * 1024 * 1024 + 64 * 1024; // a window's delta encoding length (its sections in memory)
    std::uint64_t maxTargetSize =
        0; // total bytes written, across all windows (the caller passes the expected file size)
};

// Decodes the whole patch into output; throws VcdiffError on anything refused, having possibly written
// part of the target already (the caller discards it).
void DecodeVcdiff(VcdiffInput& patch, VcdiffSource& source, VcdiffOutput& output, const VcdiffLimits& limits);

} // namespace lumoradex
