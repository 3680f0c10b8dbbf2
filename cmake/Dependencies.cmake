# Third-party code: nlohmann json (header-only) and GoogleTest.
#
# mingw (Linux): both come from Debian packages. The json headers live in
# /usr/include, which must not be on a Windows compiler's include path as a
# whole (glibc headers would shadow mingw's), so only the nlohmann folder is
# linked into the build tree. GoogleTest is built from Debian's sources with
# the cross compiler.
# msvc (Windows): both come from vcpkg (vcpkg.json at the top of the tree).

set(MIRAVELL_NLOHMANN_DIR "/usr/include/nlohmann" CACHE PATH
    "Folder holding nlohmann/json.hpp (used when no CMake package is found)")
set(MIRAVELL_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH
    "GoogleTest source tree (used when no CMake package is found)")

add_library(miravell_json INTERFACE)
if(NOT CMAKE_CROSSCOMPILING)
  find_package(nlohmann_json 3.11 CONFIG QUIET)
endif()
if(TARGET nlohmann_json::nlohmann_json)
  target_link_libraries(miravell_json INTERFACE nlohmann_json::nlohmann_json)
elseif(EXISTS "${MIRAVELL_NLOHMANN_DIR}/json.hpp")
  set(_json_include "${CMAKE_BINARY_DIR}/third_party/include")
  file(MAKE_DIRECTORY "${_json_include}")
  if(NOT EXISTS "${_json_include}/nlohmann")
    file(CREATE_LINK "${MIRAVELL_NLOHMANN_DIR}" "${_json_include}/nlohmann" SYMBOLIC COPY_ON_ERROR)
  endif()
  target_include_directories(miravell_json SYSTEM INTERFACE "${_json_include}")
else()
  message(FATAL_ERROR "nlohmann json 3.11 not found: install nlohmann-json3-dev (Debian) or use vcpkg (msvc preset)")
endif()
target_compile_definitions(miravell_json INTERFACE JSON_USE_IMPLICIT_CONVERSIONS=1)

if(MIRAVELL_BUILD_TESTS)
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(GTest CONFIG QUIET)
  endif()
  if(NOT TARGET GTest::gtest AND EXISTS "${MIRAVELL_GTEST_SOURCE_DIR}/CMakeLists.txt")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    add_subdirectory("${MIRAVELL_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/third_party/googletest" EXCLUDE_FROM_ALL SYSTEM)
    # GoogleTest's own build defines the GTest:: aliases.
  endif()
  if(NOT TARGET GTest::gtest)
    message(FATAL_ERROR "GoogleTest not found: install googletest (Debian) or use vcpkg (msvc preset)")
  endif()
endif()

# The public suffix list, compiled into the player as a table (see
# cmake/GeneratePublicSuffixTable.py). Debian's publicsuffix package provides
# it; elsewhere pass the path of a copy of public_suffix_list.dat.
set(MIRAVELL_PUBLIC_SUFFIX_LIST "/usr/share/publicsuffix/public_suffix_list.dat" CACHE FILEPATH
    "The public suffix list (public_suffix_list.dat) compiled into the player")
if(NOT EXISTS "${MIRAVELL_PUBLIC_SUFFIX_LIST}")
  message(FATAL_ERROR "The public suffix list was not found at '${MIRAVELL_PUBLIC_SUFFIX_LIST}': install "
                      "publicsuffix (Debian) or configure with -DMIRAVELL_PUBLIC_SUFFIX_LIST=<path of "
                      "public_suffix_list.dat>")
endif()
find_package(Python3 COMPONENTS Interpreter REQUIRED)
