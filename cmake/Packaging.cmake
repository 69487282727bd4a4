# Debian packages of the install components: cpack -G DEB in a build directory
# makes libhvl0, libhvl-dev and hwregs for the build's architecture (powerpc
# from the ppc preset). The simulator, the benches and the tests install
# nothing and are in none of them.
set(CPACK_PACKAGE_NAME hwregs)
set(CPACK_PACKAGE_VENDOR "hwregs developers")
set(CPACK_PACKAGE_CONTACT "hwregs developers <hwregs@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Programs and the shared library without their symbol tables and debug
# information, as the board gets them.
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL libhvl0 libhvl-dev hwregs)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# libhvl0 carries a shlibs file: programs built against it depend on this
# version or a later one.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

if(CMAKE_CROSSCOMPILING)
  # The toolchain names the processor as Debian names the architecture.
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})
  # dpkg-shlibdeps cannot read the target's libraries: what the programs and
  # the library need of the C library (64-bit time since 2.34), by hand. They
  # need nothing of the C++ runtime.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(hvl_deb_libc "libc6 (>= 2.34)")
else()
  execute_process(COMMAND dpkg --print-architecture
    OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # hwregs needs libhvl.so.0 from the build, which belongs to no installed
  # package yet: the dependency on libhvl0 is stated below.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
  set(hvl_deb_libc "")
endif()
set(hvl_deb_exact "libhvl0 (= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_LIBHVL0_PACKAGE_NAME libhvl0)
set(CPACK_DEBIAN_LIBHVL0_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBHVL0_PACKAGE_DEPENDS "${hvl_deb_libc}")
set(CPACK_COMPONENT_LIBHVL0_DESCRIPTION
  "Board support library
Logging, CPLD driver access, the IPMI transport over the OpenIPMI driver, the board's OEM
commands, the management controller's SDR repository and sensors, FRU and board information.")

set(CPACK_DEBIAN_LIBHVL-DEV_PACKAGE_NAME libhvl-dev)
set(CPACK_DEBIAN_LIBHVL-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBHVL-DEV_PACKAGE_DEPENDS "${hvl_deb_exact}")
set(CPACK_COMPONENT_LIBHVL-DEV_DESCRIPTION
  "Board support library: development files
The C headers, the static library, and the pkg-config and CMake package files of libhvl.")

set(CPACK_DEBIAN_HWREGS_PACKAGE_NAME hwregs)
set(CPACK_DEBIAN_HWREGS_PACKAGE_SECTION admin)
string(JOIN ", " CPACK_DEBIAN_HWREGS_PACKAGE_DEPENDS ${hvl_deb_exact} ${hvl_deb_libc})
set(CPACK_COMPONENT_HWREGS_DESCRIPTION
  "Board CPLD register tool and board information tool
hwregs lists, reads, writes and checks the CPLD's registers in the PPC and IPMC areas and the
CPU's device control registers; hwboard shows the board's device ID, self-test, mezzanine, MAC
addresses, engineering options, OEM configuration, FRU data and sensors as tables or JSON. With
their manual pages and bash completions.")

include(CPack)
