# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model). Executables built here run
# under Wine through scripts/wine-run.sh, which keeps one Wine prefix per build tree.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KORVA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KORVA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVA_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${KORVA_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump that reads PE files")

# Headers and libraries come from the mingw sysroot only; build tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${KORVA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest and try_run start the Windows executables through Wine. The prefix lives in the build tree so that
# build trees never share (or corrupt) each other's Wine state.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh --prefix=${CMAKE_BINARY_DIR}/wineprefix)
