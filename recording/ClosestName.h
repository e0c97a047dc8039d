// "Did you mean ...?": the known name closest to a mistyped one, for the
// messages about unknown settings and unknown options.
#pragma once

#include <span>
#include <string_view>

// The candidate closest to `word`, ignoring case, when it is close enough to
// be the one meant: at most one edit (a letter added, dropped, changed, or two
// neighbours swapped) for words of up to four letters, two for longer ones.
// Ties go to the earlier candidate. Returns an empty view when none is close.
[[nodiscard]] std::string_view closestName(std::string_view word,
                                           std::span<const std::string_view> candidates);
