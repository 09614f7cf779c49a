#include "updater/patch/vcdiff_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace lumoradex {
namespace {

namespace fs = std::filesystem;

// The patch in pieces of odd sizes, as a file or a socket may hand it over.
class PiecewisePatch final : public VcdiffInput {
public:
    explicit PiecewisePatch(std::string bytes) : bytes_(std::move(bytes)) {}
    std::size_t Read(std::byte* data, std::size_t size) override {
        static constexpr std::size_t kPieces[] = {1, 7, 4093, 3, 70001};
        const std::size_t piece = std::min({size, bytes_.size() - next_, kPieces[calls_++ % std::size(kPieces)]});
        std::memcpy(data, bytes_.data() + next_, piece);
        next_ += piece;
        return piece;
    }

private:
    std::string bytes_;
    std::size_t next_ = 0;
    std::size_t calls_ = 0;
};

// The old file, held in memory or, given only its size, computed from each offset so that it may be far
// larger than memory.
class MemorySource final : public VcdiffSource {
public:
    explicit MemorySource(std::string bytes = "abcdefghijklmnop") : bytes_(std::move(bytes)), size_(bytes_.size()) {}
    explicit MemorySource(std::uint64_t size) : size_(size) {}

    std::uint64_t Size() const override { return size_; }
    void ReadAt(std::uint64_t offset, std::byte* data, std::size_t size) override {
        if (offset > size_ || size > size_ - offset)
            throw std::out_of_range("read past the old file");
        for (std::size_t i = 0; i < size; ++i)
            data[i] = static_cast<std::byte>(At(offset + i));
        bytesRead += size;
        largestRead = std::max(largestRead, size);
    }
    char At(std::uint64_t offset) const {
        return bytes_.empty() ? static_cast<char>(offset ^ (offset >> 8) ^ (offset >> 17)) : bytes_[offset];
    }

    std::uint64_t bytesRead = 0;
    std::size_t largestRead = 0;

private:
    std::string bytes_;
    std::uint64_t size_;
};

struct MemoryOutput final : VcdiffOutput {
    void Write(const std::byte* data, std::size_t size) override {
        bytes.append(reinterpret_cast<const char*>(data), size);
        writes.push_back(size);
    }
    std::string bytes;
    std::vector<std::size_t> writes;
};

VcdiffLimits Expecting(std::uint64_t targetSize) {
    VcdiffLimits limits;
    limits.maxTargetSize = targetSize;
    return limits;
}

std::string Decode(const std::string& patch, MemorySource& source, const VcdiffLimits& limits,
                   MemoryOutput* output = nullptr) {
    MemoryOutput local;
    MemoryOutput& out = output != nullptr ? *output : local;
    PiecewisePatch input(patch);
    DecodeVcdiff(input, source, out, limits);
    return out.bytes;
}

// Hand-built patches.

std::string Integer(std::uint64_t value) {
    std::string digits(1, static_cast<char>(value & 0x7F));
    while ((value >>= 7) != 0)
        digits.insert(digits.begin(), static_cast<char>(0x80 | (value & 0x7F)));
    return digits;
}

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values)
        bytes += static_cast<char>(value);
    return bytes;
}

const std::string kHeader = Bytes({0xD6, 0xC3, 0xC4, 0, 0});

// Codes of the default table, as its lines list them.
constexpr int kRun = 0;
constexpr auto Add = [](int size) { return 1 + size; };
constexpr auto Copy = [](int size, int mode) { return 19 + 16 * mode + (size == 0 ? 0 : size - 3); };
constexpr auto AddCopy = [](int addSize, int copySize, int mode) {
    return mode < 6 ? 163 + 12 * mode + 3 * (addSize - 1) + copySize - 4 : 235 + 4 * (mode - 6) + addSize - 1;
};
constexpr auto CopyAdd = [](int mode) { return 247 + mode; };

struct Window {
    Window(std::uint64_t targetLength, std::string data, std::string instructions, std::string addresses,
           int indicator = 1, std::uint64_t segmentLength = 16, std::uint64_t segmentPosition = 0)
        : targetLength(targetLength), data(std::move(data)), instructions(std::move(instructions)),
          addresses(std::move(addresses)), indicator(indicator), segmentLength(segmentLength),
          segmentPosition(segmentPosition) {}

    std::uint64_t targetLength;
    std::string data;
    std::string instructions;
    std::string addresses;
    int indicator;
    std::uint64_t segmentLength;
    std::uint64_t segmentPosition;
    int deltaIndicator = 0;
    std::string targetLengthBytes; // in place of the integer, when not empty
    std::string trailing;          // inside the delta encoding, past its sections
};

std::string Encode(const Window& window) {
    const std::string delta =
        (window.targetLengthBytes.empty() ? Integer(window.targetLength) : window.targetLengthBytes) +
        static_cast<char>(window.deltaIndicator) + Integer(window.data.size()) + Integer(window.instructions.size()) +
        Integer(window.addresses.size()) + window.data + window.instructions + window.addresses + window.trailing;
    std::string encoded(1, static_cast<char>(window.indicator));
    if ((window.indicator & 3) != 0)
        encoded += Integer(window.segmentLength) + Integer(window.segmentPosition);
    return encoded + Integer(delta.size()) + delta;
}

// The example of RFC 3284 section 3: "abcdefghijklmnop" into "abcdwxyzefghefghefghefghzzzz".
Window RfcExample() {
    return {28, "wxyzz", Bytes({Copy(4, 0), Add(4), Copy(4, 0), Copy(12, 0), kRun, 4}), Bytes({0, 4, 24})};
}
const std::string kRfcTarget = "abcdwxyzefghefghefghefghzzzz";

std::string Repeated(const std::string& part, int times) {
    std::string whole;
    while (times-- > 0)
        whole += part;
    return whole;
}

Window With(void (*change)(Window&)) {
    Window window = RfcExample();
    change(window);
    return window;
}

// Test cases show by name.
template <typename Case> auto operator<<(std::ostream& out, const Case& testCase) -> decltype(testCase.name, out) {
    return out << testCase.name;
}
constexpr auto kCaseName = [](const auto& info) { return std::string(info.param.name); };

struct Decoding {
    const char* name;
    std::vector<Window> windows;
    std::string target;
};

class VcdiffDecoding : public ::testing::TestWithParam<Decoding> {};

TEST_P(VcdiffDecoding, RebuildsTheTarget) {
    std::string patch = kHeader;
    for (const Window& window : GetParam().windows)
        patch += Encode(window);
    MemorySource source;
    EXPECT_EQ(Decode(patch, source, Expecting(GetParam().target.size())), GetParam().target);
}

INSTANTIATE_TEST_SUITE_P(
    Vcdiff, VcdiffDecoding,
    ::testing::Values(
        Decoding{"NoWindow", {}, ""}, Decoding{"SelfAddresses", {RfcExample()}, kRfcTarget},
        Decoding{"HereAddressAndAddThenCopy",
                 {{28, "wxyzz", Bytes({Copy(4, 0), AddCopy(4, 4, 0), Copy(12, 1), kRun, 4}), Bytes({0, 4, 4})}},
                 kRfcTarget},
        Decoding{"NearAddresses",
                 {{28, "wxyzz", Bytes({Copy(4, 0), Add(4), Copy(4, 2), Copy(12, 3), kRun, 4}), Bytes({0, 4, 20})}},
                 kRfcTarget},
        Decoding{"SameAddress", {{9, "!", Bytes({Copy(4, 0), AddCopy(1, 4, 6)}), Bytes({4, 4})}}, "efgh!efgh"},
        Decoding{"SameAddressInSecondBlock",
                 {{307, Repeated("0123456789abc", 23), Bytes({Add(0), 0x82, 0x2B, Copy(4, 0), Copy(4, 7)}),
                   Bytes({0x82, 0x05, 5}), 0}},
                 Repeated("0123456789abc", 23) + "12341234"},
        Decoding{"CopyThenAdd", {{5, "!", Bytes({CopyAdd(1)}), Bytes({12})}}, "efgh!"},
        Decoding{"TargetCopyOverlappingItself",
                 {{11, "a", Bytes({Add(1), Copy(10, 1)}), Bytes({1}), 0}},
                 std::string(11, 'a')},
        Decoding{"SizesInTheInstructions",
                 {{220, "0123456789abcdefghij", Bytes({Add(0), 20, Copy(0, 0), 0x81, 0x48}), Bytes({0}), 0}},
                 Repeated("0123456789abcdefghij", 11)},
        // The second window's near cache starts at zero again, not at the first window's address 8.
        Decoding{"CacheEmptyAtEachWindow",
                 {{4, "", Bytes({Copy(4, 0)}), Bytes({8})}, {4, "", Bytes({Copy(4, 2)}), Bytes({0})}},
                 "ijklabcd"},
        Decoding{"SegmentInsideTheOldFile", {{4, "", Bytes({Copy(4, 0)}), Bytes({2}), 1, 6, 10}}, "mnop"}),
    kCaseName);

struct Refusal {
    const char* name;
    std::string patch;
    VcdiffLimits limits = Expecting(1000);
};

VcdiffLimits WindowLimit(std::size_t maxTargetWindow, std::size_t maxDeltaEncoding) {
    VcdiffLimits limits = Expecting(1000);
    limits.maxTargetWindow = maxTargetWindow;
    limits.maxDeltaEncoding = maxDeltaEncoding;
    return limits;
}

class VcdiffRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(VcdiffRefusal, ThrowsVcdiffError) {
    MemorySource source;
    EXPECT_THROW(Decode(GetParam().patch, source, GetParam().limits), VcdiffError);
}

const std::string kWindow = Encode(RfcExample());

INSTANTIATE_TEST_SUITE_P(
    Vcdiff, VcdiffRefusal,
    ::testing::Values(
        Refusal{"BadMagic", Bytes({0xD6, 0xC3, 0xC5, 0, 0}) + kWindow},
        Refusal{"Version1", Bytes({0xD6, 0xC3, 0xC4, 1, 0}) + kWindow},
        Refusal{"SecondaryCompressor", Bytes({0xD6, 0xC3, 0xC4, 0, 1, 2}) + kWindow},
        Refusal{"CodeTable", Bytes({0xD6, 0xC3, 0xC4, 0, 2, 0}) + kWindow},
        Refusal{"UnknownHeaderBit", Bytes({0xD6, 0xC3, 0xC4, 0, 8}) + kWindow},
        Refusal{"ApplicationHeaderTooLong",
                Bytes({0xD6, 0xC3, 0xC4, 0, 4}) + Integer(1 << 20) + std::string(1 << 20, 'x')},
        Refusal{"WindowChecksum", kHeader + Encode(With([](Window& w) { w.indicator = 5; }))},
        Refusal{"TargetSegment", kHeader + Encode(With([](Window& w) { w.indicator = 2; }))},
        Refusal{"SourceAndTargetSegments", kHeader + Encode(With([](Window& w) { w.indicator = 3; }))},
        Refusal{"SegmentPastOldFile", kHeader + Encode(With([](Window& w) { w.segmentPosition = 1; }))},
        Refusal{"SegmentPositionWraps", kHeader + Encode(With([](Window& w) { w.segmentPosition = ~0ULL; }))},
        Refusal{"TargetWindowOverLimit", kHeader + kWindow, WindowLimit(27, 1000)},
        Refusal{"DeltaEncodingOverLimit", kHeader + kWindow, WindowLimit(1000, 15)},
        Refusal{"PastExpectedSize", kHeader + kWindow, Expecting(27)},
        Refusal{"SecondWindowPastExpectedSize", kHeader + kWindow + kWindow, Expecting(50)},
        Refusal{"CompressedSections", kHeader + Encode(With([](Window& w) { w.deltaIndicator = 1; }))},
        Refusal{"SectionsShortOfDeltaEncoding", kHeader + Encode(With([](Window& w) { w.trailing = "x"; }))},
        Refusal{"LeadingZeroDigit", kHeader + Encode(With([](Window& w) {
                                        w.targetLengthBytes = Bytes({0x80, 28});
                                    }))},
        Refusal{"IntegerPast64Bits",
                kHeader + Encode(With([](Window& w) { w.targetLengthBytes = std::string(9, '\xFF') + "\x7F"; }))},
        Refusal{"CopyAtItsOwnPosition", kHeader + Encode({4, "", Bytes({Copy(4, 0)}), Bytes({16})})},
        Refusal{"CopyPastItsOwnPosition", kHeader + Encode({4, "", Bytes({Copy(4, 0)}), Bytes({100})})},
        Refusal{"CopyAcrossSegmentEnd", kHeader + Encode({8, "wxyz", Bytes({AddCopy(4, 4, 0)}), Bytes({14})})},
        Refusal{"HereAddressBeforeWindow", kHeader + Encode({4, "", Bytes({Copy(4, 1)}), Bytes({17})})},
        Refusal{"AddPastWindowEnd", kHeader + Encode({3, "wxyz", Bytes({Add(4)}), ""})},
        Refusal{"RunPastWindowEnd", kHeader + Encode({3, "z", Bytes({kRun, 4}), ""})},
        Refusal{"CopyPastWindowEnd", kHeader + Encode({3, "", Bytes({Copy(4, 0)}), Bytes({0})})},
        Refusal{"WindowNotFilled", kHeader + Encode({10, "wxyz", Bytes({Add(4)}), ""})},
        Refusal{"DataLeftOver", kHeader + Encode({4, "wxyz!", Bytes({Add(4)}), ""})},
        Refusal{"AddressLeftOver", kHeader + Encode({4, "", Bytes({Copy(4, 0)}), Bytes({0, 0})})},
        Refusal{"DataMissing", kHeader + Encode({4, "wx", Bytes({Add(4)}), ""})},
        Refusal{"SizeMissing", kHeader + Encode({4, "wxyz", Bytes({Add(0)}), ""})},
        Refusal{"AddressMissing", kHeader + Encode({4, "", Bytes({Copy(4, 0)}), ""})}),
    kCaseName);

// Cut anywhere but between windows, the patch is refused; cut between windows, it is a shorter patch.
TEST(VcdiffTruncation, RefusedUnlessCutBetweenWindows) {
    const std::string header = Bytes({0xD6, 0xC3, 0xC4, 0, 4}) + Integer(9) + "new//old/";
    const std::string patch = header + kWindow + kWindow;
    for (std::size_t cut = 0; cut < patch.size(); ++cut) {
        MemorySource source;
        const std::string prefix = patch.substr(0, cut);
        if (cut == header.size() || cut == header.size() + kWindow.size())
            EXPECT_EQ(Decode(prefix, source, Expecting(100)), kRfcTarget.substr(0, cut == header.size() ? 0 : 28));
        else
            EXPECT_THROW(Decode(prefix, source, Expecting(100)), VcdiffError) << "cut at " << cut;
    }
}

// A 64 MiB segment costs only the bytes copied from it, read in pieces of at most 1 MiB.
TEST(VcdiffSourceReads, OnlyTheCopiedBytesInBoundedPieces) {
    constexpr std::uint64_t kMiB = 1024 * 1024;
    MemorySource source(64 * kMiB);
    const Window window(3 * kMiB + 100, "", Bytes({Copy(0, 0)}) + Integer(3 * kMiB) + Bytes({Copy(0, 0), 100}),
                        Integer(kMiB) + Integer(60 * kMiB), 1, 64 * kMiB);
    const std::string target = Decode(kHeader + Encode(window), source, Expecting(4 * kMiB));
    ASSERT_EQ(target.size(), 3 * kMiB + 100);
    for (std::uint64_t offset : {std::uint64_t{0}, 3 * kMiB - 1, 3 * kMiB + 99})
        EXPECT_EQ(target[offset], source.At(offset < 3 * kMiB ? kMiB + offset : 60 * kMiB + offset - 3 * kMiB));
    EXPECT_LE(source.bytesRead, 3 * kMiB + 64 * 1024);
    EXPECT_LE(source.largestRead, kMiB);
}

// Round trips through patches that xdelta3 makes at test time.

std::string RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937_64 random(seed);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t value = random();
        std::memcpy(bytes.data() + i, &value, std::min<std::size_t>(8, size - i));
    }
    return bytes;
}

// Every stride-th byte changed, a block inserted at a third and one dropped at two thirds.
std::string Edited(std::string bytes, std::size_t stride) {
    for (std::size_t i = stride / 2; i < bytes.size(); i += stride)
        bytes[i] = static_cast<char>(~bytes[i]);
    bytes.insert(bytes.size() / 3, RandomBytes(5000, 99));
    bytes.erase(bytes.size() * 2 / 3, std::min<std::size_t>(7000, bytes.size() / 4));
    return bytes;
}

class VcdiffXdelta3 : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kXdelta3))
            GTEST_SKIP() << kXdelta3 << " is missing: scripts/install-deps.sh installs it";
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        folder_ = fs::temp_directory_path() / ("vcdiff_test_" + name + "_" + std::to_string(std::random_device{}()));
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    std::string MakePatch(const std::string& oldBytes, const std::string& newBytes,
                          const std::string& options = "-S none -A= -n") {
        Save(folder_ / "old", oldBytes);
        Save(folder_ / "new", newBytes);
        const fs::path patch = folder_ / "patch";
        const std::string command = std::string(kXdelta3) + " -e -f " + options + " -s '" + (folder_ / "old").string() +
                                    "' '" + (folder_ / "new").string() + "' '" + patch.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        std::ifstream in(patch, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static void Save(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    static constexpr const char* kXdelta3 = "/usr/bin/xdelta3";
    fs::path folder_;
};

struct Versions {
    const char* name;
    std::string oldBytes;
    std::string newBytes;
    const char* options = "-S none -A= -n";
};

class VcdiffRoundTrip : public VcdiffXdelta3, public ::testing::WithParamInterface<Versions> {};

TEST_P(VcdiffRoundTrip, GivesTheNewFile) {
    MemorySource source(GetParam().oldBytes);
    const std::string patch = MakePatch(GetParam().oldBytes, GetParam().newBytes, GetParam().options);
    EXPECT_EQ(Decode(patch, source, Expecting(GetParam().newBytes.size())), GetParam().newBytes);
}

const std::string kOld = RandomBytes(300000, 1);

INSTANTIATE_TEST_SUITE_P(Vcdiff, VcdiffRoundTrip,
                         ::testing::Values(Versions{"ScatteredChanges", kOld, Edited(kOld, 10007)},
                                           Versions{"Grown", kOld, RandomBytes(1000, 2) + kOld + RandomBytes(90000, 3)},
                                           Versions{"Shrunk", kOld, kOld.substr(2000, 120000)},
                                           Versions{"EmptyNewFile", kOld, ""},
                                           Versions{"EmptyOldFile", "", RandomBytes(100000, 4)},
                                           Versions{"Identical", kOld, kOld},
                                           Versions{"ApplicationHeaderSkipped", kOld, Edited(kOld, 999), "-S none -n"}),
                         kCaseName);

// xdelta3 cuts 20 MiB into windows of 8 MiB; the block inserted makes the second window's segment longer
// than the window.
TEST_F(VcdiffXdelta3, LargeFileInSeveralWindows) {
    const std::string oldBytes = RandomBytes(20 * 1024 * 1024, 5);
    const std::string newBytes = Edited(oldBytes, 1 << 20);
    MemorySource source(oldBytes);
    MemoryOutput output;
    EXPECT_TRUE(Decode(MakePatch(oldBytes, newBytes), source, Expecting(newBytes.size()), &output) == newBytes);
    EXPECT_GT(output.writes.size(), 1u);
    EXPECT_LE(source.largestRead, 1024u * 1024u);
}

TEST_F(VcdiffXdelta3, DefaultSecondaryCompressionAndChecksumsAreRefused) {
    const std::string newBytes = Edited(kOld, 999);
    for (const char* options : {"-A= -n", "-S none -A="}) {
        MemorySource source(kOld);
        EXPECT_THROW(Decode(MakePatch(kOld, newBytes, options), source, Expecting(newBytes.size())), VcdiffError)
            << options;
    }
}

} // namespace
} // namespace lumoradex
