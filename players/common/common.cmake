# The players' platform-neutral part, built for Windows in players/ and natively for the tests.
# It reads the screensaver with the core's archive reader and project reader; the show itself
# runs on the core's show engine (src/show).
set(NIMBREL_PLAYER_COMMON_DIR ${CMAKE_CURRENT_LIST_DIR})

function(nimbrel_player_common_library name)
  set(dir ${NIMBREL_PLAYER_COMMON_DIR})
  add_library(${name} STATIC
    ${dir}/command_line.cpp ${dir}/about_text.cpp ${dir}/package.cpp ${dir}/setup_info.cpp)
  target_include_directories(${name} PUBLIC ${dir})
  target_link_libraries(${name} PUBLIC nimbrel_common nimbrel_platform ZLIB::ZLIB)
  target_link_libraries(${name} PUBLIC nimbrel_archive nimbrel_project nimbrel_imaging nimbrel_show)
endfunction()
