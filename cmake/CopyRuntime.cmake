# Script mode: copy the shipped data into the runtime tree and place the
# vehicle module into every ECU folder.
file(MAKE_DIRECTORY ${DST}/Kadr ${DST}/ECU)
if(EXISTS ${SRC}/ECU)
  file(COPY ${SRC}/ECU/ DESTINATION ${DST}/ECU)
endif()
file(GLOB entries LIST_DIRECTORIES true ${DST}/ECU/*)
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY ${entry})
    file(COPY_FILE ${MODULE} ${entry}/VORTA.so ONLY_IF_DIFFERENT)
  endif()
endforeach()
