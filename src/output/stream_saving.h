#pragma once

// Writing one rescued file so that it appears whole or not at all.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace vellumark {

// How often creating a rescued file is tried before it counts as failed.
inline constexpr int kSaveAttempts = 11;

// Writes the bytes as a new file named path once all of them are written;
// nothing under any name is replaced or written through. When path is taken
// by a file with the same bytes, that file is the rescued one; when by
// anything else (an earlier run's file, a link), the bytes go to the first
// free "NAME-2.EXT", "NAME-3.EXT" ... instead. Creation is tried 11 times,
// retryDelay apart. Returns the name the bytes have; none when they could not
// all be written, in which case nothing is left behind.
// errno holds the reason of a failure.
std::optional<std::string> SaveStreamWithRetry(const std::uint8_t* data, std::size_t size, const std::string& path,
                                               std::chrono::milliseconds retryDelay = std::chrono::milliseconds(100),
                                               int attempts = kSaveAttempts);

}  // namespace vellumark
