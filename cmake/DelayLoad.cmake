# System DLLs outside Windows' KnownDLLs list. Imported the ordinary way, the
# loader looks for them in the program's own folder before System32 when the
# process starts, before any line of ours has run; the player is elevated and
# often started from a downloads folder, so a DLL of one of these names left
# there would run with its rights. Delay-loaded, they are first loaded after
# the entry point has limited the search to System32.
set(MIRAVELL_DELAY_LOADED_DLLS bcrypt crypt32 gdiplus iphlpapi urlmon version winhttp wintrust)

if(MINGW)
  # mingw has no /DELAYLOAD: each DLL gets a delay-import library made from
  # the export list of its ordinary import library.
  find_program(MIRAVELL_DLLTOOL NAMES ${MINGW_TRIPLE}-dlltool dlltool REQUIRED)
  set(delay_dir "${CMAKE_BINARY_DIR}/delayload")
  file(MAKE_DIRECTORY "${delay_dir}")
  foreach(dll IN LISTS MIRAVELL_DELAY_LOADED_DLLS)
    find_library(import_${dll} NAMES lib${dll}.a ${dll} REQUIRED NO_CACHE)
    execute_process(COMMAND "${CMAKE_NM}" "${import_${dll}}" OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
    # Functions are the text symbols of the import library; data exports
    # cannot be delay-loaded and have none.
    string(REGEX MATCHALL "[0-9a-fA-F]+ T [A-Za-z_][A-Za-z0-9_@]*" functions "${symbols}")
    set(def "LIBRARY ${dll}.dll\nEXPORTS\n")
    foreach(line IN LISTS functions)
      string(REGEX REPLACE "^[0-9a-fA-F]+ T " "" name "${line}")
      string(APPEND def "${name}\n")
    endforeach()
    file(WRITE "${delay_dir}/${dll}.def" "${def}")
    execute_process(
      COMMAND "${MIRAVELL_DLLTOOL}" --input-def "${delay_dir}/${dll}.def" --dllname ${dll}.dll
              --output-delaylib "${delay_dir}/lib${dll}-delay.a"
      COMMAND_ERROR_IS_FATAL ANY)
    add_library(miravell_delay_${dll} STATIC IMPORTED GLOBAL)
    set_target_properties(miravell_delay_${dll} PROPERTIES
      IMPORTED_LOCATION "${delay_dir}/lib${dll}-delay.a"
      INTERFACE_LINK_LIBRARIES delayimp)
  endforeach()
else()
  foreach(dll IN LISTS MIRAVELL_DELAY_LOADED_DLLS)
    add_library(miravell_delay_${dll} INTERFACE IMPORTED GLOBAL)
    set_target_properties(miravell_delay_${dll} PROPERTIES
      INTERFACE_LINK_LIBRARIES "${dll};delayimp"
      INTERFACE_LINK_OPTIONS "/DELAYLOAD:${dll}.dll")
  endforeach()
endif()

# The library to link for a system library name: the delay-loaded form for
# the DLLs above, the name itself for the rest.
function(miravell_system_libs out)
  set(result "")
  foreach(lib IN LISTS ARGN)
    if(lib IN_LIST MIRAVELL_DELAY_LOADED_DLLS)
      list(APPEND result miravell_delay_${lib})
    else()
      list(APPEND result ${lib})
    endif()
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()
