#include "tests/faults/release_files.h"

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>

#include "tests/e2e/build_paths.h"

namespace lumoradex::e2e {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * kKiB;

std::string ReadWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Pseudo-random bytes (xorshift64), different for each file and release, so that no old byte
// run could pass for a new one.
void Pad(std::string& bytes, std::size_t size, std::uint64_t seed) {
    std::uint64_t state = seed | 1;
    bytes.reserve(size);
    while (bytes.size() < size) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        for (int i = 0; i < 8 && bytes.size() < size; ++i)
            bytes.push_back(static_cast<char>(state >> (8 * i)));
    }
}

std::string Contents(const ReleaseFile& file, bool newRelease) {
    std::string bytes;
    if (file.name == "Velmor.exe")
        bytes = ReadWhole(VelmorFixture(newRelease ? "4.2.0.1" : "4.2.0.0"));
    else
        bytes = std::string(newRelease ? "new" : "old") + " release of " + file.name + "\n";
    if (bytes.size() > file.size)
        throw std::invalid_argument(file.name + " is larger than its size in the release");
    Pad(bytes, file.size, std::hash<std::string>{}(file.name) * 2 + (newRelease ? 1 : 0));
    return bytes;
}

void Write(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

// Overwrites one record in every stretch of the given length, at a pseudo-random place within it.
void ChangeRecords(std::string& bytes, std::size_t from, std::size_t stretch, std::size_t record, std::uint64_t seed) {
    std::uint64_t state = seed | 1;
    for (std::size_t at = from; at + stretch <= bytes.size(); at += stretch) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::string changed;
        Pad(changed, record, state);
        bytes.replace(at + state % (stretch - record), record, changed);
    }
}

} // namespace

void WriteChangedRelease(const std::vector<ReleaseFile>& files, const fs::path& oldFolder, const fs::path& newFolder,
                         bool onlyExecutable) {
    for (const ReleaseFile& file : files) {
        std::string bytes = ReadWhole(oldFolder / file.name);
        if (file.name == "Velmor.exe") {
            const std::string image = ReadWhole(VelmorFixture("4.2.0.1"));
            bytes.replace(0, image.size(), image);
            ChangeRecords(bytes, image.size(), 64 * kKiB, 2 * kKiB, 7);
        } else if (file.name.ends_with(".mdb") && !onlyExecutable) {
            ChangeRecords(bytes, 0, 25600, 256, std::hash<std::string>{}(file.name));
        }
        Write(newFolder / file.name, bytes);
    }
}

std::vector<ReleaseFile> RealisticRelease() {
    return {{"Velmor.prm", 4 * kKiB},   {"VelmorA.prm", 6 * kKiB},   {"VelmorE.prm", 3 * kKiB},
            {"MailLink.exe", 1 * kMiB}, {"XVelmor.mdb", 128 * kMiB}, {"socle.mdb", 32 * kMiB},
            {"Velmor.exe", 8 * kMiB}};
}

std::vector<ReleaseFile> SmallRelease() {
    return {{"Velmor.prm", 4 * kKiB},  {"VelmorA.prm", 6 * kKiB}, {"VelmorE.prm", 3 * kKiB}, {"MailLink.exe", 1 * kMiB},
            {"XVelmor.mdb", 4 * kMiB}, {"socle.mdb", 2 * kMiB},   {"Velmor.exe", 1 * kMiB}};
}

std::size_t TotalSize(const std::vector<ReleaseFile>& files) {
    std::size_t total = 0;
    for (const ReleaseFile& file : files)
        total += file.size;
    return total;
}

void WriteRelease(const std::vector<ReleaseFile>& files, const fs::path& oldFolder, const fs::path& newFolder) {
    for (const ReleaseFile& file : files) {
        Write(oldFolder / file.name, Contents(file, false));
        Write(newFolder / file.name, Contents(file, true));
    }
}

} // namespace lumoradex::e2e
