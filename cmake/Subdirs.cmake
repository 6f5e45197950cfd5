# camstack_add_subdirs([FIRST dir...])
# Adds every direct subfolder of the current source folder that has a
# CMakeLists.txt: the FIRST ones in the order given, then the rest sorted.
# Folders appear as their work lands, so parallel work never edits a list.
macro(camstack_add_subdirs)
  cmake_parse_arguments(_CAS "" "" "FIRST" ${ARGN})
  file(GLOB _cas_children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _cas_children)
  if(_CAS_FIRST)
    list(REMOVE_ITEM _cas_children ${_CAS_FIRST})
  endif()
  foreach(_cas_dir ${_CAS_FIRST} ${_cas_children})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_cas_dir}/CMakeLists.txt)
      add_subdirectory(${_cas_dir})
    endif()
  endforeach()
endmacro()
