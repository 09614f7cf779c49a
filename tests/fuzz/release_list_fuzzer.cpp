// libFuzzer target: the reading of a signed release's list. Besides crashes and sanitizer reports,
// it stops on any broken property below: a list that reads must say exactly what its canonical text
// says, and nothing outside the update's files or the size limit ever reads.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "updater/release/release_list.h"
#include "updater/release/update_file_list.h"

namespace {

using namespace lumoradex;

void Require(bool holds) {
    if (!holds)
        std::abort();
}

std::string Canonical(const ReleaseList& list) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text = "version " + list.version + "\n";
    for (const auto& [name, file] : list.files) {
        for (std::uint8_t byte : file.sha256)
            text += {kDigits[byte >> 4], kDigits[byte & 15]};
        text += " " + std::to_string(file.size) + " " + name + "\n";
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<ReleaseList> list = ParseReleaseList(text);
    if (!list)
        return 0;
    Require(text.size() <= kMaxReleaseListSize);
    Require(!list->version.empty() && list->version.find_first_not_of("0123456789.") == std::string::npos);
    for (const auto& [name, file] : list->files) {
        Require(std::ranges::find(kUpdateFileList, name) != kUpdateFileList.end());
        Require(file.size >= 0);
    }
    const std::optional<ReleaseList> again = ParseReleaseList(Canonical(*list));
    Require(again && again->version == list->version && again->files.size() == list->files.size());
    for (const auto& [name, file] : list->files)
        Require(again->files.at(name).sha256 == file.sha256 && again->files.at(name).size == file.size);
    return 0;
}
