# Sanitizers for every target of the build, the simulator's shim included, so
# the shim and the programs it is loaded into share one runtime.
if(HWREGS_SANITIZE)
  add_compile_options(-fsanitize=${HWREGS_SANITIZE} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${HWREGS_SANITIZE})
  # A preloaded shim needs the ASan runtime loaded before it.
  if(HWREGS_SANITIZE MATCHES "address")
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                    OUTPUT_VARIABLE HWREGS_ASAN_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(HWREGS_ASAN_RUNTIME "${HWREGS_ASAN_RUNTIME}" REALPATH)
  endif()
endif()
