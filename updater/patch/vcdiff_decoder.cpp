#include "updater/patch/vcdiff_decoder.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

namespace lumoradex {
namespace {

constexpr std::array<std::uint8_t, 3> kMagic = {0xD6, 0xC3, 0xC4};
constexpr std::uint8_t kVersion = 0;

constexpr std::uint8_t kSecondaryCompressor = 0x01;
constexpr std::uint8_t kApplicationCodeTable = 0x02;
constexpr std::uint8_t kApplicationHeader = 0x04; // xdelta3's addition to the file header

constexpr std::uint8_t kSourceSegment = 0x01;
constexpr std::uint8_t kTargetSegment = 0x02;

// xdelta3 keeps the file names there; anything longer is not a patch of ours.
constexpr std::uint64_t kMaxApplicationHeader = 64 * 1024;
constexpr std::size_t kPatchBuffer = 64 * 1024;
constexpr std::size_t kDeltaPiece = 1024 * 1024;
constexpr std::size_t kSourcePiece = 1024 * 1024;
constexpr std::size_t kSourceBlock = 8 * 1024;
constexpr std::size_t kSourceBlocks = 128;

enum class Op : std::uint8_t { Noop, Add, Run, Copy };

struct Instruction {
    Op op = Op::Noop;
    std::uint8_t size = 0; // 0: the size follows the code in the instructions section
    std::uint8_t mode = 0;
};

struct Code {
    Instruction first;
    Instruction second;
};

constexpr std::size_t kNearSlots = 4;
constexpr std::size_t kSameBlocks = 3;
constexpr int kSelfMode = 0;
constexpr int kHereMode = 1;
constexpr int kFirstNearMode = 2;
constexpr int kFirstSameMode = kFirstNearMode + kNearSlots;
constexpr int kModes = kFirstSameMode + kSameBlocks;

constexpr Instruction Make(Op op, int size, int mode = 0) {
    return {op, static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(mode)};
}

// RFC 3284 section 5.6, one loop a line of its table, the first range of a line the outer loop. Built at
// compile time: an entry too many or too few stops the build.
constexpr std::array<Code, 256> DefaultCodeTable() {
    std::array<Code, 256> table{};
    std::size_t index = 0;
    table[index++] = {Make(Op::Run, 0), {}};
    for (int size = 0; size <= 17; ++size)
        table[index++] = {Make(Op::Add, size), {}};
    for (int mode = 0; mode < kModes; ++mode) {
        table[index++] = {Make(Op::Copy, 0, mode), {}};
        for (int size = 4; size <= 18; ++size)
            table[index++] = {Make(Op::Copy, size, mode), {}};
    }
    for (int mode = 0; mode < kFirstSameMode; ++mode)
        for (int addSize = 1; addSize <= 4; ++addSize)
            for (int copySize = 4; copySize <= 6; ++copySize)
                table[index++] = {Make(Op::Add, addSize), Make(Op::Copy, copySize, mode)};
    for (int mode = kFirstSameMode; mode < kModes; ++mode)
        for (int addSize = 1; addSize <= 4; ++addSize)
            table[index++] = {Make(Op::Add, addSize), Make(Op::Copy, 4, mode)};
    for (int mode = 0; mode < kModes; ++mode)
        table[index++] = {Make(Op::Copy, 4, mode), Make(Op::Add, 1)};
    if (index != table.size())
        throw std::logic_error("the default code table has the wrong number of entries");
    return table;
}

constexpr std::array<Code, 256> kDefaultCodeTable = DefaultCodeTable();

// Base 128, most significant digit first. Each value has one encoding: a leading zero digit is refused
// like a value past 64 bits, so a length cannot be padded to hide bytes or wrap around.
template <typename NextByte> std::uint64_t DecodeInteger(NextByte next) {
    std::uint8_t byte = next();
    if (byte == 0x80)
        throw VcdiffError("VCDIFF integer with a leading zero digit");
    std::uint64_t value = byte & 0x7F;
    while ((byte & 0x80) != 0) {
        if (value > (std::numeric_limits<std::uint64_t>::max() >> 7))
            throw VcdiffError("VCDIFF integer past 64 bits");
        byte = next();
        value = (value << 7) | (byte & 0x7F);
    }
    return value;
}

// The patch through a buffer, as its headers are read a byte at a time.
class PatchReader {
public:
    explicit PatchReader(VcdiffInput& input) : input_(input), buffer_(kPatchBuffer) {}

    // Only between windows may the patch end.
    bool AtEnd() { return next_ == end_ && !Fill(); }

    std::uint8_t Byte() {
        if (AtEnd())
            throw VcdiffError("the patch ends inside a header");
        return static_cast<std::uint8_t>(buffer_[next_++]);
    }

    std::uint64_t Integer() {
        return DecodeInteger([this] { return Byte(); });
    }

    // Large reads go straight to data, not through the buffer.
    void Take(std::byte* data, std::size_t size) {
        while (size > 0) {
            std::size_t piece = 0;
            if (next_ == end_ && size >= buffer_.size() && !ended_) {
                piece = ReadInput(data, size);
                if (piece == 0)
                    throw VcdiffError("the patch ends inside a window");
            } else {
                if (AtEnd())
                    throw VcdiffError("the patch ends inside a window");
                piece = std::min(size, end_ - next_);
                std::copy_n(buffer_.data() + next_, piece, data);
                next_ += piece;
            }
            data += piece;
            size -= piece;
        }
    }

    void Skip(std::uint64_t size) {
        while (size > 0) {
            if (AtEnd())
                throw VcdiffError("the patch ends inside its application header");
            const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(size, end_ - next_));
            next_ += piece;
            size -= piece;
        }
    }

private:
    bool Fill() {
        next_ = 0;
        end_ = ended_ ? 0 : ReadInput(buffer_.data(), buffer_.size());
        return end_ > 0;
    }

    std::size_t ReadInput(std::byte* data, std::size_t size) {
        const std::size_t read = input_.Read(data, size);
        if (read > size)
            throw VcdiffError("the patch reader returned more than was asked");
        ended_ = read == 0;
        return read;
    }

    VcdiffInput& input_;
    std::vector<std::byte> buffer_;
    std::size_t next_ = 0;
    std::size_t end_ = 0;
    bool ended_ = false;
};

// One of a window's three sections, consumed from its start.
class Section {
public:
    Section(const std::byte* data, std::size_t size, const char* name) : next_(data), end_(data + size), name_(name) {}

    bool Empty() const { return next_ == end_; }
    std::size_t Left() const { return static_cast<std::size_t>(end_ - next_); }

    std::uint8_t Byte() {
        if (Empty())
            Overrun();
        return static_cast<std::uint8_t>(*next_++);
    }

    std::uint64_t Integer() {
        return DecodeInteger([this] { return Byte(); });
    }

    const std::byte* Take(std::uint64_t size) {
        if (size > Left())
            Overrun();
        const std::byte* taken = next_;
        next_ += size;
        return taken;
    }

    void RequireConsumed() const {
        if (!Empty())
            throw VcdiffError(std::string("bytes left over in the ") + name_ + " of a window");
    }

private:
    [[noreturn]] void Overrun() const { throw VcdiffError(std::string("read past the ") + name_ + " of a window"); }

    const std::byte* next_;
    const std::byte* end_;
    const char* name_;
};

// RFC 3284 sections 5.1 to 5.4, with the default cache sizes. Addresses that wrap past 64 bits are refused
// here; those past the copy's own position by the caller.
class AddressCache {
public:
    std::uint64_t Decode(int mode, std::uint64_t here, Section& addresses) {
        std::uint64_t address = 0;
        if (mode == kSelfMode) {
            address = addresses.Integer();
        } else if (mode == kHereMode) {
            const std::uint64_t back = addresses.Integer();
            if (back > here)
                throw VcdiffError("a copy address before address 0");
            address = here - back;
        } else if (mode < kFirstSameMode) {
            const std::uint64_t base = near_[static_cast<std::size_t>(mode - kFirstNearMode)];
            const std::uint64_t offset = addresses.Integer();
            if (offset > std::numeric_limits<std::uint64_t>::max() - base)
                throw VcdiffError("a copy address past 64 bits");
            address = base + offset;
        } else {
            address = same_[static_cast<std::size_t>(mode - kFirstSameMode) * 256 + addresses.Byte()];
        }
        near_[nextNear_] = address;
        nextNear_ = (nextNear_ + 1) % kNearSlots;
        same_[address % same_.size()] = address;
        return address;
    }

private:
    std::array<std::uint64_t, kNearSlots> near_{};
    std::size_t nextNear_ = 0;
    std::array<std::uint64_t, kSameBlocks * 256> same_{};
};

// The old file as copies read it, never more of it at once than a piece. A patch of an executable holds
// short copies by the hundred thousand, mostly near earlier ones: they are served from 1 MiB of aligned
// blocks kept from earlier reads, a read a block rather than a read a copy.
class SourceReader {
public:
    explicit SourceReader(VcdiffSource& source) : source_(source), size_(source.Size()) {}

    std::uint64_t Size() const { return size_; }

    void Read(std::uint64_t offset, std::byte* data, std::size_t size) {
        if (size >= kSourceBlock) {
            for (std::size_t done = 0; done < size;) {
                const std::size_t piece = std::min(kSourcePiece, size - done);
                source_.ReadAt(offset + done, data + done, piece);
                done += piece;
            }
            return;
        }
        while (size > 0) {
            const Block& block = BlockAt(offset / kSourceBlock);
            const auto within = static_cast<std::size_t>(offset % kSourceBlock);
            const std::size_t piece = std::min(size, block.size - within);
            std::copy_n(block.bytes.data() + within, piece, data);
            offset += piece;
            data += piece;
            size -= piece;
        }
    }

private:
    struct Block {
        std::uint64_t index = std::numeric_limits<std::uint64_t>::max();
        std::size_t size = 0;
        std::vector<std::byte> bytes;
    };

    const Block& BlockAt(std::uint64_t index) {
        Block& block = blocks_[index % blocks_.size()];
        if (block.index != index) {
            block.bytes.resize(kSourceBlock);
            block.size = static_cast<std::size_t>(std::min<std::uint64_t>(kSourceBlock, size_ - index * kSourceBlock));
            source_.ReadAt(index * kSourceBlock, block.bytes.data(), block.size);
            block.index = index;
        }
        return block;
    }

    VcdiffSource& source_;
    const std::uint64_t size_;
    std::array<Block, kSourceBlocks> blocks_;
};

// Where a window's copies read in the old file; empty when the window has none.
struct Segment {
    std::uint64_t position = 0;
    std::uint64_t length = 0;
};

struct Sections {
    Section data;
    Section instructions;
    Section addresses;
};

// One target window being rebuilt from its three sections.
class TargetWindow {
public:
    TargetWindow(std::byte* target, std::size_t length, Segment segment, const Sections& sections, SourceReader& source)
        : target_(target), length_(length), segment_(segment), data_(sections.data),
          instructions_(sections.instructions), addresses_(sections.addresses), source_(source) {}

    void Decode() {
        while (!instructions_.Empty()) {
            const Code& code = kDefaultCodeTable[instructions_.Byte()];
            for (const Instruction* instruction : {&code.first, &code.second})
                if (instruction->op != Op::Noop)
                    Execute(*instruction);
        }
        data_.RequireConsumed();
        addresses_.RequireConsumed();
        if (position_ != length_)
            throw VcdiffError("the instructions of a window end before its target length");
    }

private:
    void Execute(const Instruction& instruction) {
        const std::uint64_t size = instruction.size != 0 ? instruction.size : instructions_.Integer();
        if (size > length_ - position_)
            throw VcdiffError("an instruction writes past the end of its target window");
        const auto count = static_cast<std::size_t>(size);
        std::byte* out = target_ + position_;
        switch (instruction.op) {
        case Op::Add:
            std::copy_n(data_.Take(count), count, out);
            break;
        case Op::Run:
            std::fill_n(out, count, static_cast<std::byte>(data_.Byte()));
            break;
        case Op::Copy:
            Copy(cache_.Decode(instruction.mode, segment_.length + position_, addresses_), count);
            break;
        case Op::Noop:
            break;
        }
        position_ += count;
    }

    // RFC 3284 section 3: the copied bytes lie wholly in the source segment or wholly in the target
    // window, and start before the copy's own position; in the target they may run on into the bytes
    // the copy itself writes, which repeats the bytes between its address and its position.
    void Copy(std::uint64_t address, std::size_t size) {
        if (address >= segment_.length + position_)
            throw VcdiffError("a copy address at or past its own position");
        std::byte* out = target_ + position_;
        if (address < segment_.length) {
            if (size > segment_.length - address)
                throw VcdiffError("a copy runs past the end of its source segment");
            source_.Read(segment_.position + address, out, size);
            return;
        }
        const auto from = static_cast<std::size_t>(address - segment_.length);
        const std::size_t period = position_ - from;
        for (std::size_t done = 0; done < size;) {
            const std::size_t piece = std::min(period, size - done);
            std::copy_n(target_ + from + done, piece, out + done);
            done += piece;
        }
    }

    std::byte* target_;
    const std::size_t length_;
    const Segment segment_;
    std::size_t position_ = 0;
    Section data_;
    Section instructions_;
    Section addresses_;
    AddressCache cache_; // RFC 3284 starts each window with an empty cache
    SourceReader& source_;
};

class Decoder {
public:
    Decoder(VcdiffInput& patch, VcdiffSource& source, VcdiffOutput& output, const VcdiffLimits& limits)
        : patch_(patch), source_(source), output_(output), limits_(limits) {}

    void Run() {
        ReadFileHeader();
        while (!patch_.AtEnd())
            DecodeWindow();
    }

private:
    void ReadFileHeader() {
        for (const std::uint8_t magic : kMagic)
            if (patch_.Byte() != magic)
                throw VcdiffError("not a VCDIFF patch");
        if (patch_.Byte() != kVersion)
            throw VcdiffError("unknown VCDIFF version");
        const std::uint8_t indicator = patch_.Byte();
        // RFC 3284 leaves secondary compressors open: no format to decode one by.
        if ((indicator & kSecondaryCompressor) != 0)
            throw VcdiffError("secondary compression is not supported (make patches with -S none)");
        // Only the default code table is accepted: ours are made with it, and another would be one more
        // delta to decode before the patch, for nothing.
        if ((indicator & kApplicationCodeTable) != 0)
            throw VcdiffError("application-defined code tables are not supported");
        if ((indicator & ~kApplicationHeader) != 0)
            throw VcdiffError("unknown bits in the VCDIFF header indicator");
        if ((indicator & kApplicationHeader) != 0) {
            const std::uint64_t length = patch_.Integer();
            if (length > kMaxApplicationHeader)
                throw VcdiffError("VCDIFF application header too long");
            patch_.Skip(length);
        }
    }

    void DecodeWindow() {
        const Segment segment = ReadSourceSegment();
        const std::uint64_t deltaLength = patch_.Integer();
        if (deltaLength > limits_.maxDeltaEncoding)
            throw VcdiffError("a window's delta encoding is past the limit");
        ReadDelta(static_cast<std::size_t>(deltaLength));

        Section header(delta_.data(), delta_.size(), "delta encoding");
        const std::uint64_t targetLength = header.Integer();
        if (targetLength > limits_.maxTargetWindow)
            throw VcdiffError("a target window is past the limit");
        if (targetLength > limits_.maxTargetSize - written_)
            throw VcdiffError("the target grows past its expected size");
        if (segment.length > std::numeric_limits<std::uint64_t>::max() - targetLength)
            throw VcdiffError("a window's addresses pass 64 bits");
        if (header.Byte() != 0)
            throw VcdiffError("compressed window sections are not supported");
        const Sections sections = SplitSections(header);

        const auto length = static_cast<std::size_t>(targetLength);
        if (target_.size() < length)
            target_.resize(length);
        TargetWindow(target_.data(), length, segment, sections, source_).Decode();
        if (length > 0)
            output_.Write(target_.data(), length);
        written_ += length;
    }

    Segment ReadSourceSegment() {
        const std::uint8_t indicator = patch_.Byte();
        // Copying from the target file would need it readable back, and the target only streams out.
        if ((indicator & kTargetSegment) != 0)
            throw VcdiffError("windows copying from the target file are not supported");
        if ((indicator & ~kSourceSegment) != 0)
            throw VcdiffError("unknown bits in a window indicator (make patches with -n)");
        Segment segment;
        if ((indicator & kSourceSegment) != 0) {
            segment.length = patch_.Integer();
            segment.position = patch_.Integer();
            if (segment.length > source_.Size() || segment.position > source_.Size() - segment.length)
                throw VcdiffError("a source segment past the end of the old file");
        }
        return segment;
    }

    static Sections SplitSections(Section& header) {
        const std::uint64_t dataLength = header.Integer();
        const std::uint64_t instructionsLength = header.Integer();
        const std::uint64_t addressesLength = header.Integer();
        const std::size_t left = header.Left();
        if (dataLength > left || instructionsLength > left - dataLength ||
            addressesLength != left - dataLength - instructionsLength)
            throw VcdiffError("a window's section lengths do not add up to its delta encoding");
        return {Section(header.Take(dataLength), static_cast<std::size_t>(dataLength), "data section"),
                Section(header.Take(instructionsLength), static_cast<std::size_t>(instructionsLength),
                        "instructions section"),
                Section(header.Take(addressesLength), static_cast<std::size_t>(addressesLength), "addresses section")};
    }

    // Grown as its bytes arrive, so a patch that claims a large window and then ends holds no more
    // memory than it brought.
    void ReadDelta(std::size_t length) {
        delta_.clear();
        while (delta_.size() < length) {
            const std::size_t at = delta_.size();
            delta_.resize(at + std::min(kDeltaPiece, length - at));
            patch_.Take(delta_.data() + at, delta_.size() - at);
        }
    }

    PatchReader patch_;
    SourceReader source_;
    VcdiffOutput& output_;
    const VcdiffLimits& limits_;
    std::vector<std::byte> delta_;
    std::vector<std::byte> target_;
    std::uint64_t written_ = 0;
};

} // namespace

void DecodeVcdiff(VcdiffInput& patch, VcdiffSource& source, VcdiffOutput& output, const VcdiffLimits& limits) {
    Decoder(patch, source, output, limits).Run();
}

} // namespace lumoradex
