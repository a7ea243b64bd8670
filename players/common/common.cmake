# The players' platform-neutral part, built for Windows in players/ and natively for the tests.
# The core's archive reader and project reader are used when their areas exist; until then the
# stand-ins in players/shim take their place.
set(NIMBREL_PLAYER_COMMON_DIR ${CMAKE_CURRENT_LIST_DIR})

function(nimbrel_player_common_library name)
  set(dir ${NIMBREL_PLAYER_COMMON_DIR})
  add_library(${name} STATIC
    ${dir}/command_line.cpp ${dir}/show_order.cpp ${dir}/about_text.cpp
    ${dir}/picture_layout.cpp ${dir}/package.cpp ${dir}/transition.cpp ${dir}/simple_decoders.cpp)
  target_include_directories(${name} PUBLIC ${dir})
  target_link_libraries(${name} PUBLIC nimbrel_common nimbrel_platform ZLIB::ZLIB)
  if(TARGET nimbrel_archive AND EXISTS ${CMAKE_SOURCE_DIR}/src/archive/archive_reader.h)
    target_link_libraries(${name} PUBLIC nimbrel_archive)
  else()
    target_sources(${name} PRIVATE ${dir}/../shim/archive/archive_reader.cpp)
    target_include_directories(${name} PUBLIC ${dir}/../shim)
  endif()
  if(TARGET nimbrel_project)
    target_link_libraries(${name} PUBLIC nimbrel_project)
  else()
    target_sources(${name} PRIVATE ${dir}/../shim/project/project_text.cpp)
  endif()
endfunction()
