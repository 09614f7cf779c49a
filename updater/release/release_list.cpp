#include "updater/release/release_list.h"

#include <algorithm>

#include "updater/release/update_file_list.h"
#include "updater/release/version_order.h"

namespace lumoradex {
namespace {

constexpr std::string_view kVersionPrefix = "version ";
constexpr std::string_view kPatchPrefix = "patch ";
// Enough for any file size in 63 bits.
constexpr std::size_t kMaxSizeDigits = 18;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Lines end in LF; a CR before it is dropped, since the signature, not the line ends, proves the text.
std::string_view NextLine(std::string_view& rest) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    return line;
}

// Digits and single dots, starting and ending with a digit: "4.2.1".
bool IsVersionText(std::string_view text) {
    if (text.empty() || !IsDigit(text.front()) || !IsDigit(text.back()))
        return false;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (!IsDigit(text[at]) && (text[at] != '.' || text[at + 1] == '.'))
            return false;
    }
    return true;
}

std::optional<std::uint8_t> HexDigit(char c) {
    if (IsDigit(c))
        return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<std::uint8_t>(c - 'a' + 10);
    return std::nullopt;
}

std::optional<Sha256Digest> ParseDigest(std::string_view hex) {
    Sha256Digest digest{};
    if (hex.size() != 2 * digest.size())
        return std::nullopt;
    for (std::size_t at = 0; at < digest.size(); ++at) {
        const std::optional<std::uint8_t> high = HexDigit(hex[2 * at]);
        const std::optional<std::uint8_t> low = HexDigit(hex[2 * at + 1]);
        if (!high || !low)
            return std::nullopt;
        digest[at] = static_cast<std::uint8_t>(*high << 4 | *low);
    }
    return digest;
}

std::optional<std::int64_t> ParseSize(std::string_view digits) {
    if (digits.empty() || digits.size() > kMaxSizeDigits || !std::ranges::all_of(digits, IsDigit))
        return std::nullopt;
    std::int64_t size = 0;
    for (char digit : digits)
        size = size * 10 + (digit - '0');
    return size;
}

// Splits off the text up to the next space; nothing when there is none.
std::optional<std::string_view> TakeField(std::string_view& rest) {
    const std::size_t space = rest.find(' ');
    if (space == std::string_view::npos)
        return std::nullopt;
    const std::string_view field = rest.substr(0, space);
    rest.remove_prefix(space + 1);
    return field;
}

bool IsUpdateFile(std::string_view name) {
    return std::ranges::find(kUpdateFileList, name) != kUpdateFileList.end();
}

// "<digest> <size> <name>", the name one of the update's files and not listed before.
bool AddFileLine(std::string_view line, ReleaseList& list) {
    const std::optional<std::string_view> digestText = TakeField(line);
    const std::optional<std::string_view> sizeText = digestText ? TakeField(line) : std::nullopt;
    if (!sizeText || !IsUpdateFile(line))
        return false;
    const std::optional<Sha256Digest> digest = ParseDigest(*digestText);
    const std::optional<std::int64_t> size = ParseSize(*sizeText);
    return digest && size && list.files.try_emplace(std::string(line), ReleaseFile{*digest, *size}).second;
}

// "patch <old digest> <patch digest> <size> <name>", at most one patch per old file of a name.
bool AddPatchLine(std::string_view line, PatchList& patches) {
    if (!line.starts_with(kPatchPrefix))
        return false;
    line.remove_prefix(kPatchPrefix.size());
    const std::optional<std::string_view> fromText = TakeField(line);
    const std::optional<std::string_view> digestText = fromText ? TakeField(line) : std::nullopt;
    const std::optional<std::string_view> sizeText = digestText ? TakeField(line) : std::nullopt;
    if (!sizeText || !IsUpdateFile(line))
        return false;
    const std::optional<Sha256Digest> from = ParseDigest(*fromText);
    const std::optional<Sha256Digest> digest = ParseDigest(*digestText);
    const std::optional<std::int64_t> size = ParseSize(*sizeText);
    if (!from || !digest || !size)
        return false;
    std::vector<ReleasePatch>& offered = patches[std::string(line)];
    if (std::ranges::any_of(offered, [&](const ReleasePatch& patch) { return patch.from == *from; }))
        return false;
    offered.push_back({*from, *digest, *size});
    return true;
}

// "version <version>", then lines that addLine accepts; empty lines may only end the text.
template <class AddLine> std::optional<std::string_view> ParseLines(std::string_view text, AddLine addLine) {
    if (text.size() > kMaxReleaseListSize)
        return std::nullopt;
    const std::string_view first = NextLine(text);
    const std::string_view version = first.substr(std::min(first.size(), kVersionPrefix.size()));
    if (!first.starts_with(kVersionPrefix) || !IsVersionText(version))
        return std::nullopt;
    while (!text.empty()) {
        const std::string_view line = NextLine(text);
        if (line.empty()) {
            if (text.find_first_not_of("\r\n") != std::string_view::npos)
                return std::nullopt;
            break;
        }
        if (!addLine(line))
            return std::nullopt;
    }
    return version;
}

} // namespace

std::optional<ReleaseList> ParseReleaseList(std::string_view text) {
    ReleaseList list;
    const std::optional<std::string_view> version =
        ParseLines(text, [&](std::string_view line) { return AddFileLine(line, list); });
    if (!version)
        return std::nullopt;
    list.version = *version;
    return list;
}

// A patch list proves nothing about another release: its patches would never give that release's files.
std::optional<PatchList> ParsePatchList(std::string_view text, std::string_view version) {
    PatchList patches;
    const std::optional<std::string_view> listed =
        ParseLines(text, [&](std::string_view line) { return AddPatchLine(line, patches); });
    if (!listed || *listed != version)
        return std::nullopt;
    return patches;
}

std::string PatchPath(std::string_view name, const Sha256Digest& from) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string path = "patches/" + std::string(name) + "/";
    for (std::uint8_t byte : from)
        path += {kDigits[byte >> 4], kDigits[byte & 15]};
    return path + ".vcdiff";
}

bool MayInstallRelease(std::string_view releaseVersion, std::string_view installedVersion) {
    return CompareVersions(releaseVersion, installedVersion) >= 0;
}

} // namespace lumoradex
