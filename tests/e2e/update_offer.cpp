#include "tests/e2e/update_offer.h"

namespace lumoradex::e2e {

// The inspector's reads interleave with the running load handler, which writes the message first and
// makes the window top-most last: a read between the two is not the offer yet.
std::optional<WindowReport> WaitForOffer(const Scenario& scenario, std::chrono::milliseconds timeout) {
    std::optional<WindowReport> offer;
    const bool offered = WaitUntil(
        [&] {
            offer = scenario.Inspect();
            if (!offer || !offer->visible || !offer->topmost)
                return false;
            const UpdaterItems items = UpdaterItems::Of(*offer);
            return items.miseAJour != nullptr && items.miseAJour->visible && items.message != nullptr &&
                   items.message->text == kOfferMessage;
        },
        timeout, std::chrono::milliseconds(20));
    return offered ? offer : std::nullopt;
}

} // namespace lumoradex::e2e
