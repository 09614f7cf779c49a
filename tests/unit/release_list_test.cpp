#include "updater/release/release_list.h"

#include <gtest/gtest.h>

#include <string>

namespace lumoradex {
namespace {

const std::string kDigest = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";
const std::string kLine = kDigest + " 1048576 Velmor.exe\n";

TEST(ReleaseList, ReadsTheVersionAndEachFile) {
    const std::optional<ReleaseList> list =
        ParseReleaseList("version 4.2.10\n" + kLine + std::string(64, '0') + " 0 socle.mdb\n");
    ASSERT_TRUE(list);
    EXPECT_EQ(list->version, "4.2.10");
    ASSERT_EQ(list->files.size(), 2u);
    const ReleaseFile& velmor = list->files.at("Velmor.exe");
    EXPECT_EQ(velmor.size, 1048576);
    EXPECT_EQ(velmor.sha256[0], 0x9f);
    EXPECT_EQ(velmor.sha256[31], 0x08);
    EXPECT_EQ(list->files.at("socle.mdb").size, 0);
}

// The signature proves the text, not its line ends: what an editor on Windows or a missing final
// line feed does to a list changes nothing.
TEST(ReleaseList, AcceptsCrLfAndLooseEnds) {
    for (const std::string& text : {"version 4.2.1\r\n" + kDigest + " 1048576 Velmor.exe\r\n",
                                   "version 4.2.1\n" + kLine + "\n\n", "version 4.2.1\n" + kDigest + " 1048576 Velmor.exe",
                                   std::string("version 4.2.1\n")}) {
        const std::optional<ReleaseList> list = ParseReleaseList(text);
        ASSERT_TRUE(list) << text;
        EXPECT_EQ(list->version, "4.2.1");
        EXPECT_LE(list->files.size(), 1u);
    }
}

class MalformedList : public ::testing::TestWithParam<std::string> {};

TEST_P(MalformedList, IsRefused) { EXPECT_FALSE(ParseReleaseList(GetParam())) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(
    ReleaseList, MalformedList,
    ::testing::Values("", "\n" + kLine, kLine, "version\n" + kLine, "version \n" + kLine, "Version 4.2.1\n" + kLine,
                      "version  4.2.1\n" + kLine, "version 4.2.1 \n" + kLine, "version 4..2\n" + kLine,
                      "version .4.2\n" + kLine, "version 4.2.\n" + kLine, "version v4.2.1\n" + kLine,
                      // file lines
                      "version 4.2.1\n" + kLine + kLine,                                      // twice
                      "version 4.2.1\n" + kDigest + " 1 velmor.exe\n",                          // not one of the files
                      "version 4.2.1\n" + kDigest + " 1 ..\\Velmor.exe\n",                      // a path
                      "version 4.2.1\n" + kDigest + " 1 release.txt\n",                         // not one of the files
                      "version 4.2.1\n" + kDigest.substr(1) + " 1 Velmor.exe\n",                // short digest
                      "version 4.2.1\n" + kDigest + "0 1 Velmor.exe\n",                         // long digest
                      "version 4.2.1\n9F86" + kDigest.substr(4) + " 1 Velmor.exe\n",            // upper case
                      "version 4.2.1\n" + kDigest + " -1 Velmor.exe\n",                         // a sign
                      "version 4.2.1\n" + kDigest + " 1e6 Velmor.exe\n",                        // not decimal
                      "version 4.2.1\n" + kDigest + "  1 Velmor.exe\n",                         // two spaces
                      "version 4.2.1\n" + kDigest + " 1 Velmor.exe \n",                         // trailing space
                      "version 4.2.1\n" + kDigest + " 9999999999999999999 Velmor.exe\n",        // too large
                      "version 4.2.1\n" + kDigest + " Velmor.exe\n",                            // no size
                      "version 4.2.1\n\n" + kLine,                                              // empty line inside
                      "version 4.2.1\n" + kLine + std::string(kMaxReleaseListSize, '\n'))); // over the limit

const std::string kOther = std::string(63, '1') + "2";
const std::string kPatchLine = "patch " + kDigest + " " + kOther + " 4096 XVelmor.mdb\n";

TEST(PatchList, ReadsEachPatchOfItsOwnVersionOnly) {
    const std::optional<PatchList> patches = ParsePatchList(
        "version 4.2.1\r\n" + kPatchLine + "patch " + kOther + " " + kDigest + " 7 XVelmor.mdb\n", "4.2.1");
    ASSERT_TRUE(patches);
    const std::vector<ReleasePatch>& offered = patches->at("XVelmor.mdb");
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[0].from[0], 0x9f);
    EXPECT_EQ(offered[0].sha256[31], 0x12);
    EXPECT_EQ(offered[0].size, 4096);
    EXPECT_EQ(offered[1].size, 7);
    EXPECT_TRUE(ParsePatchList("version 4.2.1\n", "4.2.1"));
    EXPECT_FALSE(ParsePatchList("version 4.2.0\n" + kPatchLine, "4.2.1"));
    EXPECT_EQ(PatchPath("XVelmor.mdb", offered[0].from), "patches/XVelmor.mdb/" + kDigest + ".vcdiff");
}

TEST(PatchList, RefusesWhatIsNotAPatchLine) {
    for (const std::string& lines :
         {kPatchLine + kPatchLine,                                           // the same old file twice
          kLine,                                                             // a file line
          "patch " + kDigest + " " + kOther + " 4096 ..\\XVelmor.mdb\n",     // a path
          "patch " + kDigest + " " + kOther + " 4096 release.txt\n",         // not one of the files
          "patch " + kDigest + " " + kOther + " -1 XVelmor.mdb\n",           // a sign
          "patch " + kDigest + " " + kOther.substr(1) + " 1 XVelmor.mdb\n",  // short digest
          "patch " + kDigest + " 4096 XVelmor.mdb\n",                        // one digest
          "Patch " + kDigest + " " + kOther + " 4096 XVelmor.mdb\n"})        // not the keyword
        EXPECT_FALSE(ParsePatchList("version 4.2.1\n" + lines, "4.2.1")) << lines;
}

TEST(ReleaseList, NeverGoesBackToAnOlderVersion) {
    EXPECT_TRUE(MayInstallRelease("4.2.1", "4.2.0"));
    EXPECT_TRUE(MayInstallRelease("4.10.0", "4.9.9"));
    EXPECT_TRUE(MayInstallRelease("4.2.1", "4.2.1.0")); // a repair
    EXPECT_FALSE(MayInstallRelease("4.2.1", "4.2.2"));
    EXPECT_FALSE(MayInstallRelease("4.9.9", "4.10.0"));
}

} // namespace
} // namespace lumoradex
