# Cross-build for 32-bit Windows with clang and lld instead of MinGW-w64's GCC,
# as another setup tool of the suite may be built: the MinGW-w64 headers and C
# runtime, and GCC's C++ library, which clang does not bring for this target.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${MINGW_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${MINGW_PREFIX})
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)
# MinGW-w64's archiver indexes the plain COFF objects clang makes.
set(CMAKE_AR ${MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${MINGW_PREFIX}-ranlib CACHE FILEPATH "")

# GCC's folder of this target holds its C++ headers and libraries, whatever
# GCC version the system has.
execute_process(COMMAND ${MINGW_PREFIX}-g++-posix -print-libgcc-file-name
                OUTPUT_VARIABLE gcc_library OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(gcc_folder ${gcc_library} DIRECTORY)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${gcc_folder}/include/c++ ${gcc_folder}/include/c++/${MINGW_PREFIX}
    ${gcc_folder}/include/c++/backward)
# A program's start and end files are GCC's, not the sysroot's: GCC's
# crtbegin.o hands the program's unwind tables (.eh_frame, which crtend.o
# ends) to GCC's unwinder. With the sysroot's, which clang takes by itself,
# nothing registers them and the first C++ exception thrown ends the program.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-fuse-ld=lld -nostartfiles /usr/${MINGW_PREFIX}/lib/crt2.o ${gcc_folder}/crtbegin.o -L${gcc_folder}")
set(CMAKE_CXX_STANDARD_LIBRARIES "-lpthread ${gcc_folder}/crtend.o")

# The MinGW-w64 headers and libraries, never the build machine's own.
set(CMAKE_SYSROOT /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
