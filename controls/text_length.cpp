#include "controls/text_length.h"

namespace lumoradex {

// Every lead byte starts one character; a four-byte sequence is a surrogate pair, two units. Stray
// continuation bytes count for nothing (the conversion to UTF-16 drops or replaces them anyway).
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
