# Cross-builds the client for 32-bit Windows with Debian's MinGW-w64 (POSIX
# threads). TESSARO_QT_WINDOWS names the static Qt that scripts/windows/build-qt
# made; its host tools (moc, uic, rcc) run here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(TESSARO_QT_WINDOWS "" CACHE PATH "Install prefix of Qt built for Windows")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TESSARO_QT_WINDOWS)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32 ${TESSARO_QT_WINDOWS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes and winpthreads go into the program: it needs no
# MinGW DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
