# Cross-builds the Windows x64 program on Linux with Clang and LLD instead of GCC. Clang supplies
# the compiler and the linker; the C runtime, the Windows headers and import libraries and the C++
# library (libstdc++, posix thread model, so std::thread and std::mutex work) are those of the GCC
# cross toolchain (Debian's g++-mingw-w64-x86-64-posix), so both builds link the same runtime.
# Clang's own MinGW driver does not find that libstdc++ (its folder is named "12-posix", not a plain
# version), so its headers and libraries are named here. Test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NVR_MINGW_TARGET x86_64-w64-mingw32)
set(NVR_MINGW_ROOT /usr/${NVR_MINGW_TARGET})

# The newest posix-thread GCC of the cross toolchain (/usr/lib/gcc/x86_64-w64-mingw32/12-posix).
file(GLOB NVR_MINGW_GCC_DIRS LIST_DIRECTORIES true /usr/lib/gcc/${NVR_MINGW_TARGET}/*-posix)
if(NOT NVR_MINGW_GCC_DIRS)
  message(FATAL_ERROR "No posix-thread MinGW-w64 GCC under /usr/lib/gcc/${NVR_MINGW_TARGET}: "
                      "install g++-mingw-w64-x86-64-posix.")
endif()
list(SORT NVR_MINGW_GCC_DIRS COMPARE NATURAL ORDER DESCENDING)
list(GET NVR_MINGW_GCC_DIRS 0 NVR_MINGW_GCC_DIR)

# Clang, and the LLVM tools that came with it (Debian keeps them in /usr/lib/llvm-N/bin).
find_program(NVR_CLANG NAMES clang REQUIRED)
get_filename_component(NVR_CLANG_REAL "${NVR_CLANG}" REALPATH)
get_filename_component(NVR_LLVM_BIN "${NVR_CLANG_REAL}" DIRECTORY)

foreach(tool llvm-ar llvm-ranlib llvm-windres)
  if(NOT EXISTS "${NVR_LLVM_BIN}/${tool}")
    message(FATAL_ERROR "${tool} is not beside ${NVR_CLANG_REAL}: install llvm (and lld).")
  endif()
endforeach()

set(CMAKE_C_COMPILER "${NVR_LLVM_BIN}/clang")
set(CMAKE_CXX_COMPILER "${NVR_LLVM_BIN}/clang++")
set(CMAKE_C_COMPILER_TARGET ${NVR_MINGW_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${NVR_MINGW_TARGET})
set(CMAKE_SYSROOT ${NVR_MINGW_ROOT})
set(CMAKE_AR "${NVR_LLVM_BIN}/llvm-ar" CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB "${NVR_LLVM_BIN}/llvm-ranlib" CACHE FILEPATH "Archive indexer")
# llvm-windres takes GNU windres's options and preprocesses with the Clang beside it; the sysroot
# keeps the host's /usr/include out of its search.
set(CMAKE_RC_COMPILER "${NVR_LLVM_BIN}/llvm-windres")
set(CMAKE_RC_FLAGS_INIT "--preprocessor-arg=--sysroot=${NVR_MINGW_ROOT}")

set(NVR_LIBSTDCXX_INCLUDE ${NVR_MINGW_GCC_DIR}/include/c++)
string(CONCAT CMAKE_CXX_FLAGS_INIT
  "-stdlib++-isystem ${NVR_LIBSTDCXX_INCLUDE} "
  "-stdlib++-isystem ${NVR_LIBSTDCXX_INCLUDE}/${NVR_MINGW_TARGET} "
  "-stdlib++-isystem ${NVR_LIBSTDCXX_INCLUDE}/backward")
# LLD as the linker; libstdc++ and libgcc from the GCC folder; -pthread links winpthread, which the
# posix libstdc++ needs (GCC's driver adds it by itself).
set(NVR_LINK_FLAGS "-fuse-ld=lld -L${NVR_MINGW_GCC_DIR} -pthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${NVR_LINK_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${NVR_LINK_FLAGS}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${NVR_LINK_FLAGS}")

set(CMAKE_FIND_ROOT_PATH ${NVR_MINGW_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test programs are Windows programs: CTest starts them through Wine in the test environment.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/lib/wine-exec")
