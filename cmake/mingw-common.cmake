# The posix thread model: the win32 model has no std::thread or std::mutex.
set(CMAKE_C_COMPILER ${VZ_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VZ_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VZ_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VZ_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Static linking: the programs must run without MinGW DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
