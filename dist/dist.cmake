# cmake -DSTAGE=<folder> -DARCHIVE=<file> -DMODE=<cf|cfz> -DFORMAT=<zip|gnutar> -DNATIVE_DIR=<dir>
#       "-DNATIVES=<files>" "-DREGISTRY=<line or empty>" "-DJARS=<jars>" -DJAVADOC=<jar>
#       -DEXAMPLE_JAR=<jar> -DEXAMPLE_SOURCE=<java> "-DGUIDES=<md files>" -DREADME=<txt>
#       "-DTOOLS=<scripts or empty>" -P dist.cmake
# Stages one bundle in STAGE (whose name is the bundle's top folder) and packs it as ARCHIVE.
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/${NATIVE_DIR} ${STAGE}/docs ${STAGE}/example)
file(COPY ${NATIVES} DESTINATION ${STAGE}/${NATIVE_DIR})
if(REGISTRY)
  # The class registry of the platform layer: the simulated component, beside the libraries.
  file(WRITE ${STAGE}/${NATIVE_DIR}/com-registry
       "# CLSID  module (relative to this folder)  threading model\n${REGISTRY}\n")
endif()
file(COPY ${JARS} ${JAVADOC} ${README} ${TOOLS} DESTINATION ${STAGE})
file(COPY ${GUIDES} DESTINATION ${STAGE}/docs)
file(COPY ${EXAMPLE_JAR} ${EXAMPLE_SOURCE} DESTINATION ${STAGE}/example)
get_filename_component(parent ${STAGE} DIRECTORY)
get_filename_component(top ${STAGE} NAME)
file(REMOVE ${ARCHIVE})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar ${MODE} ${ARCHIVE} --format=${FORMAT} ${top}
                WORKING_DIRECTORY ${parent} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "packing ${ARCHIVE} failed (${status})")
endif()
