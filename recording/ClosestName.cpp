#include "ClosestName.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <string>
#include <vector>

namespace {

std::string lowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return lower;
}

// Edits between a and b, a swap of two neighbours counting as one (optimal
// string alignment distance).
std::size_t editDistance(const std::string& a, const std::string& b) {
  const std::size_t columns = b.size() + 1;
  std::vector<std::size_t> d((a.size() + 1) * columns);
  const auto at = [&](std::size_t i, std::size_t j) -> std::size_t& { return d[i * columns + j]; };
  for (std::size_t i = 0; i <= a.size(); ++i) {
    at(i, 0) = i;
  }
  for (std::size_t j = 0; j <= b.size(); ++j) {
    at(0, j) = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      at(i, j) = std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        at(i, j) = std::min(at(i, j), at(i - 2, j - 2) + 1);
      }
    }
  }
  return at(a.size(), b.size());
}

}  // namespace

std::string_view closestName(std::string_view word, std::span<const std::string_view> candidates) {
  // Names of settings and options are short: longer words are no typo of one.
  constexpr std::size_t kLongestWord = 64;
  if (word.empty() || word.size() > kLongestWord) {
    return {};
  }
  const std::string lowerWord = lowerCase(word);
  const std::size_t allowed = lowerWord.size() <= 4 ? 1 : 2;
  std::string_view best;
  std::size_t bestDistance = allowed + 1;
  for (const std::string_view candidate : candidates) {
    if (candidate.size() > lowerWord.size() + allowed ||
        candidate.size() + allowed < lowerWord.size()) {
      continue;
    }
    const std::size_t distance = editDistance(lowerWord, lowerCase(candidate));
    if (distance < bestDistance) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}
