# Script mode: bring the shipped data into the runtime tree and place the
# vehicle module into every ECU folder.
#   -DSRC=<data folder> -DDST=<runtime tree> -DMODULE=<VORTA.so>
#   -DSHIPPED_COPY=<scripts/shipped_copy.sh>
# The catalogue files and ECU folders are copied only where they are missing
# or still exactly as shipped: what the user saved into ECU/ ("Записать
# настройки в файл", "Сохранить как...") survives every rebuild.
file(MAKE_DIRECTORY ${DST}/Kadr ${DST}/ECU)
if(EXISTS ${SRC}/ECU)
  execute_process(COMMAND bash ${SHIPPED_COPY} ${DST} ${SRC}/ECU ECU
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "Bringing ${SRC}/ECU into ${DST}/ECU failed")
  endif()
endif()
file(GLOB entries LIST_DIRECTORIES true ${DST}/ECU/*)
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY ${entry})
    file(COPY_FILE ${MODULE} ${entry}/VORTA.so ONLY_IF_DIFFERENT)
  endif()
endforeach()
