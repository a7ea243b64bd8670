# Adds every child folder of the current source folder that has a CMakeLists.txt, in name order,
# so that a new test, benchmark or fuzz area needs no edit of its parent.
function(nimbrel_add_child_directories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# The Windows version resource of a program, from the project's one version: writes
# <build>/generated/<fileName>.version.rc and adds the folder to the target's resource includes,
# so that the program's own .rc includes it; with GENERATE_RC a whole .rc (the version and, when
# ICON names an .ico file, icon 1) is made and added to the target.
function(nimbrel_version_resource target fileName description)
  cmake_parse_arguments(V "GENERATE_RC" "ICON" "" ${ARGN})
  string(REPLACE "." "," NIMBREL_PRODUCT_VERSION_COMMAS "${NIMBREL_PRODUCT_VERSION}")
  set(NIMBREL_RC_FILE_NAME ${fileName})
  set(NIMBREL_RC_DESCRIPTION ${description})
  set(fragment ${CMAKE_BINARY_DIR}/generated/${fileName}.version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version_info.rc.in ${fragment} @ONLY)
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/generated)
  if(V_GENERATE_RC)
    set(rc "#include \"${fileName}.version.rc\"\n")
    if(V_ICON AND EXISTS ${V_ICON})
      string(APPEND rc "LANGUAGE 0x09, 0x02\n1 ICON \"${V_ICON}\"\n")
    endif()
    file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/generated/${fileName}.rc CONTENT "${rc}")
    target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/generated/${fileName}.rc)
  endif()
endfunction()
