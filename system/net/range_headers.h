#pragma once
// The headers of a request that resumes a body, and what an answer's headers say of the body they
// frame: the one range of bytes a 206 carries, and the validator a later range may be asked under.

#include <optional>
#include <string>
#include <string_view>

#include "updater/ports/transfer.h"

namespace lumoradex {

// "Range: bytes=N-", and "If-Range: " the validator when there is one, each line ended by CRLF.
std::string ResumeHeaders(const ResumeFrom& resume);

// "bytes first-last/total" or "bytes first-last/*"; nothing for anything else (several ranges, an
// unsatisfied range, a range that ends before it starts or past the total).
std::optional<BodyPart> ParseContentRange(std::string_view value);

// The strong entity tag; without one, the Last-Modified date, when it is a strong validator (a
// second or more before the answer's Date); else nothing to resume under (empty). A value that is
// malformed or holds characters a header could not carry back is none.
std::string ValidatorOf(std::optional<std::string_view> entityTag, std::optional<std::string_view> lastModified,
                        std::optional<std::string_view> date);

} // namespace lumoradex
