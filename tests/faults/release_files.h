#pragma once
// An old and a new release of the seven application files, as Linux files, for the benchmarks and
// the fault-injection tests: the old release holds Velmor 4.2.0, the new one Velmor 4.2.1, every
// file padded with pseudo-random bytes to its size (an overlay after the PE image leaves its
// version resource readable). Old and new sizes are equal, so the size-ratio test accepts them.

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace lumoradex::e2e {

struct ReleaseFile {
    std::string name;
    std::size_t size = 0;
};

// The seven files in the order the updater fetches them.
// Realistic sizes: the .prm files a few KiB, MailLink.exe 1 MiB, Velmor.exe 8 MiB, socle.mdb
// 32 MiB, XVelmor.mdb 128 MiB.
std::vector<ReleaseFile> RealisticRelease();
// The same files scaled down (about 8 MiB in all), for many short runs.
std::vector<ReleaseFile> SmallRelease();

std::size_t TotalSize(const std::vector<ReleaseFile>& files);

// Writes every file of the old release into oldFolder and of the new one into newFolder (created
// as needed). The published version of the new release is kNewVersion.
void WriteRelease(const std::vector<ReleaseFile>& files, const std::filesystem::path& oldFolder,
                  const std::filesystem::path& newFolder);

// Writes into newFolder a new release made of the old one in oldFolder as a maker's next release
// would be: Velmor.exe rebuilt (the new version's image, and 256 KiB of the rest changed in
// scattered records), the databases with 1 % of their bytes changed in scattered records, the other
// files unchanged; with onlyExecutable, the databases unchanged too.
void WriteChangedRelease(const std::vector<ReleaseFile>& files, const std::filesystem::path& oldFolder,
                         const std::filesystem::path& newFolder, bool onlyExecutable);

inline constexpr char kOldVersion[] = "4.2.0";
inline constexpr char kNewVersion[] = "4.2.1";

} // namespace lumoradex::e2e
