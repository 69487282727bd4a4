// The files a board is read from: a board file and the bases it names in
// turn. Their texts make the board's fingerprint, which tells whether state
// or an image kept for a board still belongs to the files as they now read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// The fingerprint of no text; each file's text is added in turn.
constexpr std::uint64_t kFingerprintStart = 0xcbf29ce484222325ULL;

// FNV-1a of `text`, continuing from `fingerprint`.
std::uint64_t add_to_fingerprint(std::uint64_t fingerprint, std::string_view text);

// The whole text of a board file. Throws BoardError.
std::string read_board_text(const std::string &path);

// The directory of a board file, which the `base` it names is relative to.
std::string dir_of(const std::string &path);
// The file a `base` written in a board file of `dir` names.
std::string base_path(const std::string &dir, const std::string &base);

} // namespace sim
