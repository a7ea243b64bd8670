# cmake -DFROM=... -DTO=... -P copy_if_exists.cmake
if(EXISTS "${FROM}")
  file(COPY_FILE "${FROM}" "${TO}" ONLY_IF_DIFFERENT)
endif()
