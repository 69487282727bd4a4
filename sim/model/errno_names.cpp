#include "errno_names.h"

#include <cerrno>

namespace sim {
namespace {

struct ErrnoName {
    std::string_view name;
    int value;
};

constexpr ErrnoName kErrnoNames[] = {
    {"EPERM", EPERM},         {"ENOENT", ENOENT},
    {"EINTR", EINTR},         {"EIO", EIO},
    {"ENXIO", ENXIO},         {"EBADF", EBADF},
    {"EAGAIN", EAGAIN},       {"ENOMEM", ENOMEM},
    {"EACCES", EACCES},       {"EFAULT", EFAULT},
    {"EBUSY", EBUSY},         {"ENODEV", ENODEV},
    {"EINVAL", EINVAL},       {"ENFILE", ENFILE},
    {"EMFILE", EMFILE},       {"ENOTTY", ENOTTY},
    {"EROFS", EROFS},         {"ENOSYS", ENOSYS},
    {"ENODATA", ENODATA},     {"ETIME", ETIME},
    {"EMSGSIZE", EMSGSIZE},   {"EOPNOTSUPP", EOPNOTSUPP},
    {"ETIMEDOUT", ETIMEDOUT},
};

} // namespace

std::optional<int> errno_named(std::string_view name) {
    for (const ErrnoName &entry : kErrnoNames) {
        if (entry.name == name) {
            return entry.value;
        }
    }
    return std::nullopt;
}

} // namespace sim
