#include "updater/install/file_plan.h"

#include <algorithm>

namespace lumoradex {

const ReleasePatch* PatchBeforeHashing(const PatchList& patches, std::string_view name) {
    const auto offered = patches.find(name);
    return offered != patches.end() && offered->second.size() == 1 ? &offered->second.front() : nullptr;
}

CopiesPlan PlanForCopies(const ReleaseFile& listed, const PatchList& patches, std::string_view name,
                         const std::vector<InstalledCopy>& copies, const ReleasePatch* alreadyTried) {
    CopiesPlan plan;
    std::vector<std::optional<Sha256Digest>> digests;
    for (const InstalledCopy& copy : copies) {
        if (copy.digest == listed.sha256)
            continue;
        plan.targets.push_back(copy.target);
        digests.push_back(copy.digest);
    }
    if (digests.empty() || !digests.front() || std::ranges::count(digests, digests.front()) != std::ssize(digests))
        return plan;
    const auto offered = patches.find(name);
    if (offered == patches.end())
        return plan;
    const auto patch = std::ranges::find(offered->second, *digests.front(), &ReleasePatch::from);
    if (patch != offered->second.end() && &*patch != alreadyTried)
        plan.patch = &*patch;
    return plan;
}

} // namespace lumoradex
