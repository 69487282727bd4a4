// errno values by name, for board files that say which error a fault raises.
#pragma once

#include <optional>
#include <string_view>

namespace sim {

// The errno called `name` ("EIO"), if it is one the board files may use.
std::optional<int> errno_named(std::string_view name);

} // namespace sim
