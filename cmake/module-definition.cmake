# Module-definition (.def) files of the Windows DLLs, written once for both bitnesses.
#
# The files in the tree are written for 32-bit x86: __stdcall functions are named Name@bytes, and
# a JNI native has a second, Microsoft-style name _Name@bytes = Name@bytes, which the 32-bit JVM
# looks up first. x86-64 has a single calling convention without decoration, and the 64-bit JVM
# looks up the plain Java_... name only: there the aliases are dropped and every name loses its
# @bytes, so that both export tables come from the same lists.
#
#   jtz_target_def(<target> <.def file>...)
#       the files, joined in order and written for this target's bitness, as a source of <target>

# The text of a 32-bit .def file as this target's linker wants it (in place, in <var>).
function(jtz_def_text var)
  set(text "${${var}}")
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    string(REGEX REPLACE "\n[ \t]*_[A-Za-z0-9_]+@[0-9]+[ \t]*=[ \t]*[A-Za-z0-9_]+@[0-9]+[^\n]*" ""
           text "${text}")
    string(REGEX REPLACE "([A-Za-z0-9_])@[0-9]+" "\\1" text "${text}")
    set(text "; Written for x86-64 from the 32-bit list: undecorated names, no aliases.\n${text}")
  endif()
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

function(jtz_target_def target)
  set(text "")
  foreach(def IN LISTS ARGN)
    get_filename_component(def ${def} ABSOLUTE)
    file(READ ${def} part)
    string(APPEND text "${part}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  endforeach()
  jtz_def_text(text)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
  file(GENERATE OUTPUT ${out} CONTENT "${text}")
  target_sources(${target} PRIVATE ${out})
endfunction()
