/*
 * The nearest known word to a mistyped one.
 */
#include "cli/suggest.h"

#include <algorithm>
#include <string>
#include <vector>

namespace molv {
namespace cli {
namespace {

// Edits from A to B, a swap of two neighbours counting as one.
size_t distance(const std::string &a, const std::string &b) {
  const size_t n = a.size(), m = b.size();
  std::vector<std::vector<size_t>> d(n + 1, std::vector<size_t>(m + 1));
  for (size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (size_t i = 1; i <= n; ++i) {
    for (size_t j = 1; j <= m; ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                          d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[n][m];
}

}  // namespace

std::string nearest_word(const std::string &typed, const std::vector<std::string> &known) {
  std::string best;
  size_t best_distance = 0;
  for (const std::string &word : known) {
    size_t d = distance(typed, word);
    // One word cut short or run on ("--extract-texture", "--defaults=1").
    if (typed.size() >= 4 && (word.rfind(typed, 0) == 0 || typed.rfind(word, 0) == 0)) d = 1;
    const size_t allowed = std::max<size_t>(1, word.size() / 3);
    if (d > allowed) continue;
    if (best.empty() || d < best_distance) {
      best = word;
      best_distance = d;
    }
  }
  return best;
}

std::string did_you_mean(const std::string &typed, const std::vector<std::string> &known) {
  const std::string word = nearest_word(typed, known);
  return word.empty() ? std::string() : " (did you mean " + word + "?)";
}

}  // namespace cli
}  // namespace molv
