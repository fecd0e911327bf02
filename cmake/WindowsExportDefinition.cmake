# Export definitions for Windows images. The files in the tree are written for 32-bit x86,
# where a stdcall function's symbol carries its argument bytes ("QM_Digest@20"); x86-64 has
# one calling convention and no decoration, so there the "@N" suffixes are dropped.
function(marlinok_export_definition input output)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${input})
  file(READ ${input} text)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    string(REGEX REPLACE "= ([A-Za-z_][A-Za-z0-9_]*)@[0-9]+ " "= \\1 " text "${text}")
  endif()
  file(WRITE ${output} "${text}")
endfunction()

# On 32-bit x86 a program compiled against marlinok.h calls "_QM_Digest@20", while the image
# exports the plain "QM_Digest". The import library the linker writes from an aliasing
# definition offers only "_QM_Digest", so it is rewritten with dlltool --kill-at from the
# decorated names: decorated symbols for the caller, plain names in the import entries. The
# forwarders take their decoration from the header's declarations.
function(marlinok_stdcall_import_library target definition header)
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    return()
  endif()
  file(STRINGS ${definition} lines)
  file(READ ${header} declarations)
  string(REGEX REPLACE "[\r\n]+" " " declarations "${declarations}")
  set(text "LIBRARY ${target}.dll\nEXPORTS\n")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*([A-Za-z_0-9]+) = ([A-Za-z_0-9]+@[0-9]+) (@[0-9]+)")
      string(APPEND text "    ${CMAKE_MATCH_2} ${CMAKE_MATCH_3}\n")
    elseif(line MATCHES "^[ \t]*([A-Za-z_0-9]+) = [A-Za-z_0-9]+\\.[A-Za-z_0-9]+ (@[0-9]+)")
      set(name ${CMAKE_MATCH_1})
      set(ordinal ${CMAKE_MATCH_2})
      if(NOT declarations MATCHES "MARLINOK_CALL ${name}\\(([^)]*)\\)")
        message(FATAL_ERROR "${name} is exported but not declared in ${header}")
      endif()
      string(STRIP "${CMAKE_MATCH_1}" arguments)
      if(arguments STREQUAL "void" OR arguments STREQUAL "")
        set(bytes 0)
      else()
        string(REGEX REPLACE "[^,]" "" commas "${arguments}")
        string(LENGTH "${commas}" count)
        math(EXPR bytes "(${count} + 1) * 4")
      endif()
      string(APPEND text "    ${name}@${bytes} ${ordinal}\n")
    endif()
  endforeach()
  set(import_definition ${CMAKE_CURRENT_BINARY_DIR}/${target}.import.def)
  file(WRITE ${import_definition} "${text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${definition} ${header})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} --dllname $<TARGET_FILE_NAME:${target}> --def ${import_definition}
      --kill-at --output-lib $<TARGET_LINKER_FILE:${target}>
    COMMENT "Import library of ${target} with stdcall-decorated symbols")
endfunction()
