#include "rescue/percent_text.h"

namespace vellumark {

std::string PercentText(std::int64_t total, std::int64_t done) {
  if (total == 0) total = 1;  // an empty range never reaches here; never divide by zero
  // done * 10000 overflows only beyond 9.2e14 sectors, far past any disk.
  std::string digits = std::to_string(done * 10000 / total);
  const bool negative = !digits.empty() && digits[0] == '-';
  if (negative) digits.erase(0, 1);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  digits.insert(digits.size() - 2, ".");
  return (negative ? "-" : "") + digits + "%";
}

}  // namespace vellumark
