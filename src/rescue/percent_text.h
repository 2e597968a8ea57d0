#pragma once

#include <cstdint>
#include <string>

namespace vellumark {

// done out of total as a percentage with two decimals: "0.00%", "33.33%",
// "100.00%". Used by the search and the backup progress labels.
std::string PercentText(std::int64_t total, std::int64_t done);

}  // namespace vellumark
