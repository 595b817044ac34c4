# Cross build of SrvZentrovia.exe for 64-bit Windows with MinGW-w64, on a Debian host.
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The tests run under Wine (see scripts/windows).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZV_MINGW_TRIPLET x86_64-w64-mingw32)
# The -posix compilers: the win32-thread ones lack std::thread and std::mutex.
set(CMAKE_C_COMPILER ${ZV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZV_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained exe: the MinGW runtime (libstdc++, libgcc, winpthread) is linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Header-only libraries of the host, offered to the target without the host's /usr/include.
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/windows CACHE PATH "nlohmann_json for the Windows build")

# CTest and test discovery run the Windows programs under Wine. The top-level CMakeLists.txt
# replaces this with a wrapper that pins the build's own Wine prefix.
find_program(ZV_WINE wine)
if(ZV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZV_WINE})
endif()
