#pragma once
// What the staging does with each file of a signed release, decided from what is known of its
// installed copies: leave a copy as it is, make the new file from a patch, or download it whole.
// The facts are gathered lazily by the staging (hashing a copy takes as long as downloading it on a
// fast link), so the plan comes in two steps: before any copy is hashed, and after. Platform-free.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "updater/release/release_list.h"

namespace lumoradex {

// The patch tried before any copy is hashed: the only one the release offers for the file. The new
// file it makes is proven anyway, and hashing the copy first would take as long again.
const ReleasePatch* PatchBeforeHashing(const PatchList& patches, std::string_view name);

// An installed copy, with its digest when it was worth hashing and could be read.
struct InstalledCopy {
    std::string target;
    std::optional<Sha256Digest> digest;
};

struct CopiesPlan {
    std::vector<std::string> targets;    // the copies that are not current, in their order; none: nothing to do
    const ReleasePatch* patch = nullptr; // from the digest they all share, unless it was tried already
};

// Copies already current are left as they are; the rest share a patch only when they share one
// known digest that the release offers a patch from.
CopiesPlan PlanForCopies(const ReleaseFile& listed, const PatchList& patches, std::string_view name,
                         const std::vector<InstalledCopy>& copies, const ReleasePatch* alreadyTried);

} // namespace lumoradex
