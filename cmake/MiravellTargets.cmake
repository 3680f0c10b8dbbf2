# Common build settings for every Miravell target.

add_library(miravell_options INTERFACE)
target_compile_definitions(miravell_options INTERFACE
  UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
  _WIN32_WINNT=0x0A00 WINVER=0x0A00 NTDDI_VERSION=0x0A000000
  MIRAVELL_PROFILE_$<UPPER_CASE:${MIRAVELL_PROFILE}>=1)
target_include_directories(miravell_options INTERFACE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)

# The version is set once, by project(); the code, the version resource and
# the manifest take it from there.
configure_file(${PROJECT_SOURCE_DIR}/common/Version.h.in ${PROJECT_BINARY_DIR}/generated/common/Version.h @ONLY)

if(MSVC)
  # The sources carry Arabic texts in UTF-8.
  target_compile_options(miravell_options INTERFACE /W4 /permissive- /utf-8 /Zc:__cplusplus /EHsc
    $<$<BOOL:${MIRAVELL_WARNINGS_AS_ERRORS}>:/WX>)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>" CACHE STRING "" FORCE)
else()
  target_compile_options(miravell_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
    $<$<BOOL:${MIRAVELL_WARNINGS_AS_ERRORS}>:-Werror>)
  # __FILE__ relative to the source tree: the failure log names files as
  # "net/HttpClient.cpp", and the build machine's folders stay out of the exe.
  target_compile_options(miravell_options INTERFACE "-fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=")
  # The exe must run on a bare Windows with no runtime DLLs beside it.
  target_link_options(miravell_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()

# miravell_library(NAME SOURCES ... DEPENDS ... SYSTEM_LIBS ...)
# A folder whose work has not landed yet still gets its target (an interface
# library) so the dependency graph between the layers is fixed from the start.
function(miravell_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;SYSTEM_LIBS" ${ARGN})
  miravell_system_libs(ARG_SYSTEM_LIBS ${ARG_SYSTEM_LIBS})
  if(ARG_SOURCES)
    add_library(${name} STATIC ${ARG_SOURCES})
    target_link_libraries(${name} PUBLIC miravell_options ${ARG_DEPENDS} ${ARG_SYSTEM_LIBS})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE miravell_options ${ARG_DEPENDS} ${ARG_SYSTEM_LIBS})
  endif()
  add_library(miravell::${name} ALIAS ${name})
endfunction()

# miravell_page_constants(TARGET HEADER NAME.h NAMESPACE NS FILES [NAME MODE FILE]...)
# Page and script files (FILE relative to the calling folder) as wide string
# constants in the generated header NAME.h, made again whenever a file
# changes; the program reads no file at run time. MODE is TEXT or ONE_LINE,
# as cmake/GeneratePageConstants.cmake explains.
function(miravell_page_constants target)
  cmake_parse_arguments(ARG "" "HEADER;NAMESPACE" "FILES" ${ARGN})
  set(script "${PROJECT_SOURCE_DIR}/cmake/GeneratePageConstants.cmake")
  set(header "${PROJECT_BINARY_DIR}/generated/${ARG_HEADER}")
  set(entries "")
  set(files "")
  while(ARG_FILES)
    list(POP_FRONT ARG_FILES name mode file)
    if(NOT file)
      message(FATAL_ERROR "miravell_page_constants: each constant needs a NAME, a MODE and a FILE")
    endif()
    file(RELATIVE_PATH relative "${PROJECT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}/${file}")
    list(APPEND entries ${name} ${mode} ${relative})
    list(APPEND files "${CMAKE_CURRENT_SOURCE_DIR}/${file}")
  endwhile()
  add_custom_command(OUTPUT "${header}"
    COMMAND "${CMAKE_COMMAND}" -P "${script}" "${PROJECT_SOURCE_DIR}" "${header}" ${ARG_NAMESPACE} ${entries}
    DEPENDS "${script}" ${files}
    COMMENT "Turning ${target}'s page files into ${ARG_HEADER}"
    VERBATIM)
  target_sources(${target} PRIVATE "${header}" ${files})
endfunction()
