// The board image: a board as the parser made it, laid out in bytes. The
// runner leaves one in the state directory, so that a program run on the
// simulated board takes the board from it instead of parsing the board file.
//
// Every multi-byte value is little-endian whatever the host, and requests are
// kept by name, so the host and the PowerPC build share an image as they share
// the state. The image names the bases of the board file as written: whether
// it still belongs to the board file is told by reading the files again and
// comparing their fingerprint with the one it was made from.
#pragma once

#include "board.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

// No image of the board file to be had; the message says why.
class ImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The image's name within the state directory.
constexpr const char *kImageFileName = "board.image";

// The image of `board`.
std::vector<std::uint8_t> encode_board_image(const Board &board);

// The board of an image; none when the bytes are not a whole, intact image
// of this layout.
std::optional<Board> decode_board_image(const std::uint8_t *bytes, std::size_t size);

// Leaves the image of `board` in the directory `dir`, which exists: written
// beside it and renamed into place, so that a reader sees the old image or
// the new one, never a part. Throws StateError.
void write_board_image(const std::string &dir, const Board &board);

// The board of the image in `dir`, which must be the image of the board file
// at `path` as the files read now. Throws ImageError when there is no image,
// when it is damaged, or when it was made of other files or of these before
// they were edited; BoardError when a file of the board cannot be read.
Board read_board_image(const std::string &dir, const std::string &path);

} // namespace sim
