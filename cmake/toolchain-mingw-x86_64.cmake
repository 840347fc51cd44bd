# Cross build for 64-bit Windows. Used to run the Windows tests under 64-bit Wine where the
# machine's kernel cannot run 32-bit programs; the shipped kinestim-host.exe is the i686 build.
set(KINESTIM_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
