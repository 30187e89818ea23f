# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix threads).
# The Windows dependencies (pugixml, nlohmann/json, GoogleTest,
# cpp-httplib) come from the folder LUMIVANE_WINDOWS_DEPS that
# scripts/build-windows fills; nothing is taken from the Linux system.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LUMIVANE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LUMIVANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMIVANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LUMIVANE_MINGW_TRIPLE}-windres)

if(NOT DEFINED LUMIVANE_WINDOWS_DEPS AND DEFINED ENV{LUMIVANE_WINDOWS_DEPS})
  set(LUMIVANE_WINDOWS_DEPS "$ENV{LUMIVANE_WINDOWS_DEPS}")
endif()
# try_compile projects get the variable too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LUMIVANE_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${LUMIVANE_MINGW_TRIPLE})
if(LUMIVANE_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH "${LUMIVANE_WINDOWS_DEPS}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained executable: libgcc, libstdc++ and winpthread linked in,
# so that only Windows' own DLLs are imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
