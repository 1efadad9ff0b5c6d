# cmake -DJAVADOC=<javadoc> -DJAR=<jar> -DOUT=<jar file> -DWORK=<folder> -DLOG=<file>
#       -DSOURCES=<file listing the sources> -DTITLE=<title> -DOVERVIEW=<html> -P javadoc.cmake
# Builds the API documentation with every doclint check on and packs it as OUT. What javadoc
# reports goes to LOG, which the tests read (they count the warnings); an error fails the build.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(
  COMMAND ${JAVADOC} -quiet -Xdoclint:all -Xmaxwarns 100000 -Xmaxerrs 100000 --release 17
          -encoding UTF-8 -docencoding UTF-8 -charset UTF-8 -notimestamp
          -doctitle ${TITLE} -windowtitle ${TITLE} -overview ${OVERVIEW} -d ${WORK} @${SOURCES}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
file(WRITE ${LOG} "${out}${err}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "javadoc failed (${status}):\n${out}${err}")
endif()
file(REMOVE ${OUT})
execute_process(COMMAND ${JAR} --create --file ${OUT} -C ${WORK} . RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "packing ${OUT} failed (${status})")
endif()
