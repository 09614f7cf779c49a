#include "controls/text_length.h"

namespace lumoradex {

// Every byte that is not a continuation byte starts one character; a four-byte sequence (outside the
// Basic Multilingual Plane) is a surrogate pair, two units, as the toolkit counts it.
std::size_t CharacterCount(std::string_view utf8) {
    std::size_t count = 0;
    for (unsigned char byte : utf8) {
        if ((byte & 0xC0) == 0x80)
            continue;
        count += byte >= 0xF0 ? 2 : 1;
    }
    return count;
}

} // namespace lumoradex
