# Warnings as errors for the project's own targets (not for third-party code).
add_library(hwregs_warnings INTERFACE)
target_compile_options(hwregs_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wcast-align -Wformat=2 -Wundef -Werror
  $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual>)
