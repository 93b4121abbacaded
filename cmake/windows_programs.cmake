# The Windows programs, cross-built from these same sources with MinGW-w64
# into this build tree:
#   windows-i686/cleaner/tolvanik.exe    32-bit
#   windows-x86_64/cleaner/tolvanik.exe  64-bit
# each with registry_walk/registry_walk.exe beside it. Sets MINGW_CXX_<arch> to
# the compiler found, or leaves it false where MinGW-w64 is missing.
include(ExternalProject)

foreach(arch i686 x86_64)
  find_program(MINGW_CXX_${arch} ${arch}-w64-mingw32-g++-win32)
  set(windows_dir ${CMAKE_BINARY_DIR}/windows-${arch})
  if(MINGW_CXX_${arch})
    ExternalProject_Add(windows_${arch}
      SOURCE_DIR ${PROJECT_SOURCE_DIR}
      BINARY_DIR ${windows_dir}
      CMAKE_GENERATOR Ninja
      CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw.cmake
        -DMINGW_ARCH=${arch}
        -DCMAKE_BUILD_TYPE=Release
      BUILD_ALWAYS ON
      INSTALL_COMMAND ""
      BUILD_BYPRODUCTS ${windows_dir}/cleaner/tolvanik.exe
                       ${windows_dir}/registry_walk/registry_walk.exe)
  endif()
endforeach()
