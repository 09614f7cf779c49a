#include "updater/install/file_plan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace lumoradex {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

Sha256Digest Digest(std::uint8_t value) {
    Sha256Digest digest{};
    digest.fill(value);
    return digest;
}

const ReleaseFile kListed{Digest(9), 1000};

class FilePlan : public ::testing::Test {
protected:
    FilePlan() {
        patches["Velmor.exe"] = {{Digest(1), Digest(11), 100}, {Digest(2), Digest(12), 100}};
        patches["socle.mdb"] = {{Digest(3), Digest(13), 100}};
    }
    CopiesPlan Plan(const std::string& name, std::vector<InstalledCopy> copies,
                    const ReleasePatch* tried = nullptr) const {
        return PlanForCopies(kListed, patches, name, copies, tried);
    }
    const ReleasePatch& Offered(const std::string& name, std::size_t index) const { return patches.at(name)[index]; }

    PatchList patches;
};

// Hashing a copy takes as long as the patch's download and decoding: the only patch offered is
// tried before it, never one of several, which only the copy's digest can choose between.
TEST_F(FilePlan, OnlyASinglePatchIsTriedBeforeHashing) {
    EXPECT_EQ(PatchBeforeHashing(patches, "socle.mdb"), &Offered("socle.mdb", 0));
    EXPECT_EQ(PatchBeforeHashing(patches, "Velmor.exe"), nullptr);
    EXPECT_EQ(PatchBeforeHashing(patches, "Velmor.prm"), nullptr);
}

TEST_F(FilePlan, CurrentCopiesAreLeftAsTheyAre) {
    EXPECT_THAT(
        Plan("Velmor.exe", {{"C:\\Program Files\\LumoradexV4\\Velmor.exe", Digest(9)}, {"Velmor.exe", Digest(9)}})
            .targets,
        IsEmpty());
    const CopiesPlan plan =
        Plan("Velmor.exe", {{"C:\\Program Files\\LumoradexV4\\Velmor.exe", Digest(9)}, {"Velmor.exe", Digest(2)}});
    EXPECT_THAT(plan.targets, ElementsAre("Velmor.exe"));
    EXPECT_EQ(plan.patch, &Offered("Velmor.exe", 1));
}

// One patch makes the new file for every copy left, so they must share the digest it applies to.
TEST_F(FilePlan, CopiesSharePatchOnlyFromOneKnownDigest) {
    const struct {
        const char* why;
        std::optional<Sha256Digest> mirror;
        std::optional<Sha256Digest> working;
        const ReleasePatch* patch;
    } cases[] = {
        {"same earlier release", Digest(1), Digest(1), &Offered("Velmor.exe", 0)},
        {"two earlier releases", Digest(1), Digest(2), nullptr},
        {"a copy not hashed or unreadable", std::nullopt, Digest(1), nullptr},
        {"neither hashed", std::nullopt, std::nullopt, nullptr},
        {"a release no patch was made from", Digest(7), Digest(7), nullptr},
    };
    for (const auto& test : cases) {
        const CopiesPlan plan = Plan(
            "Velmor.exe", {{"C:\\Program Files\\LumoradexV4\\Velmor.exe", test.mirror}, {"Velmor.exe", test.working}});
        EXPECT_EQ(plan.targets.size(), 2u) << test.why;
        EXPECT_EQ(plan.patch, test.patch) << test.why;
    }
}

TEST_F(FilePlan, APatchAlreadyTriedIsNotTriedAgain) {
    const ReleasePatch* tried = PatchBeforeHashing(patches, "socle.mdb");
    EXPECT_EQ(Plan("socle.mdb", {{"socle.mdb", Digest(3)}}, tried).patch, nullptr);
    EXPECT_EQ(Plan("socle.mdb", {{"socle.mdb", Digest(3)}}).patch, tried);
    EXPECT_EQ(Plan("Velmor.prm", {{"Velmor.prm", Digest(3)}}).patch, nullptr); // none offered
}

} // namespace
} // namespace lumoradex
