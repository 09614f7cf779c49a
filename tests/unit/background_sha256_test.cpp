#include "updater/install/background_sha256.h"

#include <gtest/gtest.h>

#include <string>

#include "base/step_failure.h"
#include "tests/unit/fakes/release_verifier.h"

namespace lumoradex {
namespace {

using fakes::FakeDigest;
using fakes::FakeSha256;

const std::byte* Bytes(const std::string& text) { return reinterpret_cast<const std::byte*>(text.data()); }

// Parts of every size, more than the thread may have waiting, arrive whole and in order.
TEST(BackgroundSha256, HashesEveryPartInOrder) {
    std::string all;
    BackgroundSha256 hash(std::make_unique<FakeSha256>());
    for (std::size_t size : {0u, 1u, 65536u, 300000u, 7u}) {
        for (int repeat = 0; repeat < 20; ++repeat) {
            const std::string part(size, static_cast<char>('a' + repeat));
            hash.Add(Bytes(part), part.size());
            all += part;
        }
    }
    EXPECT_EQ(hash.Finish(), FakeDigest(all));
}

class FailingSha256 final : public Sha256Hash {
public:
    void Add(const std::byte*, std::size_t) override { throw StepFailure("BCryptHashData", 87); }
    Sha256Digest Finish() override { return {}; }
};

TEST(BackgroundSha256, AFailureOfTheHashFailsTheDigest) {
    BackgroundSha256 hash(std::make_unique<FailingSha256>());
    const std::string part(100, 'x');
    hash.Add(Bytes(part), part.size());
    EXPECT_THROW(
        {
            for (int more = 0; more < 100000; ++more)
                hash.Add(Bytes(part), part.size());
            hash.Finish();
        },
        StepFailure);
}

TEST(BackgroundSha256, DroppedUnfinishedItStops) {
    BackgroundSha256 hash(std::make_unique<FakeSha256>());
    const std::string part(500000, 'x');
    for (int repeat = 0; repeat < 10; ++repeat)
        hash.Add(Bytes(part), part.size());
}

} // namespace
} // namespace lumoradex
