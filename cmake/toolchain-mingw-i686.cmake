# Cross build for 32-bit Windows: the shipped kinestim-host.exe.
set(KINESTIM_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
