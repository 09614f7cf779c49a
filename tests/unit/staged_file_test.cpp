#include "updater/install/staged_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "tests/unit/fakes/disk.h"

namespace lumoradex {
namespace {

using fakes::FakeDisk;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

void Write(const TemporaryFile& file, const std::string& text) {
    file.Writer().Write(reinterpret_cast<const std::byte*>(text.data()), text.size());
}

TEST(PrefixedSibling, NamesTheSiblingInTheSameFolder) {
    EXPECT_EQ(PrefixedSibling("Velmor.exe", "New"), "NewVelmor.exe");
    EXPECT_EQ(PrefixedSibling("C:\\Program Files\\LumoradexV4\\socle.mdb", "Old"),
              "C:\\Program Files\\LumoradexV4\\Oldsocle.mdb");
}

// No failure path removes a temporary file by hand: every one that is dropped takes its file along.
TEST(TemporaryFile, ADroppedFileGoesAndNothingElse) {
    FakeDisk disk;
    disk.files["Velmor.prm"] = "old";
    {
        const TemporaryFile file(disk, "NewVelmor.prm");
        Write(file, "new");
        EXPECT_EQ(disk.files.at("NewVelmor.prm"), "new");
    }
    EXPECT_THAT(disk.files, ElementsAre(Pair("Velmor.prm", "old")));
}

TEST(TemporaryFile, ARenamedFileIsTheTargetsAndStays) {
    FakeDisk disk;
    disk.files["Velmor.prm"] = "old";
    {
        TemporaryFile file(disk, "NewVelmor.prm");
        Write(file, "new");
        ASSERT_EQ(file.RenameOver("Velmor.prm"), ReplaceResult::Replaced);
    }
    EXPECT_THAT(disk.files, ElementsAre(Pair("Velmor.prm", "new")));
}

// Renamed back, the file frees the target's name and is a temporary file again, dropped with it.
TEST(TemporaryFile, ARenamedFileRenamedBackGoesWhenDropped) {
    FakeDisk disk;
    {
        TemporaryFile file(disk, "NewVelmor.prm");
        Write(file, "new");
        ASSERT_EQ(file.RenameOver("Velmor.prm"), ReplaceResult::Replaced);
        ASSERT_EQ(file.RenameBack(), ReplaceResult::Replaced);
        EXPECT_THAT(disk.files, ElementsAre(Pair("NewVelmor.prm", "new")));
    }
    EXPECT_THAT(disk.files, IsEmpty());
}

// A target in use leaves the file held for the next try, and still the caller's to drop.
TEST(TemporaryFile, ATargetInUseKeepsTheFileForAnotherTry) {
    FakeDisk disk;
    disk.files["Velmor.exe"] = "old";
    disk.inUseTimes["Velmor.exe"] = 1;
    {
        TemporaryFile file(disk, "NewVelmor.exe");
        EXPECT_EQ(file.RenameOver("Velmor.exe"), ReplaceResult::TargetInUse);
        Write(file, "new");
    }
    EXPECT_THAT(disk.files, ElementsAre(Pair("Velmor.exe", "old")));
}

// Ownership moves with the object: a file goes once, with its last owner, and one overwritten by a
// move goes at once.
TEST(TemporaryFile, MovesHandTheFileOn) {
    FakeDisk disk;
    std::vector<TemporaryFile> held;
    {
        TemporaryFile first(disk, "NewVelmor.prm");
        held.push_back(std::move(first));
    }
    EXPECT_TRUE(disk.files.contains("NewVelmor.prm"));
    held.front() = TemporaryFile(disk, "Newsocle.mdb");
    EXPECT_THAT(disk.files, ElementsAre(Pair("Newsocle.mdb", "")));
    held.clear();
    EXPECT_THAT(disk.files, IsEmpty());
}

// A file another program holds cannot go now; the next run removes it before its download.
TEST(TemporaryFile, AFileThatCannotBeRemovedIsLeftQuietly) {
    FakeDisk disk;
    disk.failDelete.insert("NewVelmor.prm");
    EXPECT_NO_THROW({ const TemporaryFile file(disk, "NewVelmor.prm"); });
    EXPECT_TRUE(disk.files.contains("NewVelmor.prm"));
    EXPECT_THROW(TemporaryFile(disk, "NewVelmor.prm"), StepFailure); // never opens what has the name
}

} // namespace
} // namespace lumoradex
