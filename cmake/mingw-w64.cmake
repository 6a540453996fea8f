# Cross build for 64-bit Windows with MinGW-w64 (POSIX threads flavour, needed
# for std::thread). Runtime libraries are linked statically so the programs run
# under Wine without looking for DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(korva_mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${korva_mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${korva_mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER  ${korva_mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${korva_mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
