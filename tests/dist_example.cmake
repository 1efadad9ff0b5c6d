# cmake -DARCHIVE=<bundle .tar.gz> -DJAVA=<java> -DWORKDIR=<folder> -P dist_example.cmake
# Unpacks the bundle into an empty WORKDIR and runs its example program from there, as a user
# would, with nothing but the bundle: the example's jar names jtrazelo.jar itself, and the
# libraries and the component's registration come from the bundle's lib folder. Checks the exit
# status and what the example prints.
file(REMOVE_RECURSE ${WORKDIR})
file(MAKE_DIRECTORY ${WORKDIR}/unpacked ${WORKDIR}/run)
file(ARCHIVE_EXTRACT INPUT ${ARCHIVE} DESTINATION ${WORKDIR}/unpacked)
file(GLOB bundle LIST_DIRECTORIES true ${WORKDIR}/unpacked/jtrazelo-*)
list(LENGTH bundle count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "the bundle holds ${count} top folders: ${bundle}")
endif()
foreach(file jtrazelo.jar jtrazelo-javadoc.jar README.txt docs/windows-deployment.md
             example/ScanExample.java example/jtrazelo-example.jar lib/com-registry)
  if(NOT EXISTS ${bundle}/${file})
    message(FATAL_ERROR "the bundle lacks ${file}")
  endif()
endforeach()

# Nothing from the build's environment may help: no class path, library path or registry.
unset(ENV{CLASSPATH})
unset(ENV{LD_LIBRARY_PATH})
unset(ENV{JTZCOM_REGISTRY})
unset(ENV{SCANMONTURA_SIM_FRAME})
execute_process(
  COMMAND ${JAVA} -Xcheck:jni -Djava.library.path=${bundle}/lib -jar ${bundle}/example/jtrazelo-example.jar 4
  WORKING_DIRECTORY ${WORKDIR}/run
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("--- stdout\n${out}--- stderr\n${err}---")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the example exited with ${status}")
endif()
foreach(pattern "component: Scanning [0-9]+%" "component: Trace: 400 points"
                "Box [0-9]+\\.[0-9][0-9] x [0-9]+\\.[0-9][0-9] mm, .* 400 points, 2 drill holes")
  if(NOT out MATCHES "${pattern}")
    message(FATAL_ERROR "the example's output lacks \"${pattern}\"")
  endif()
endforeach()
if(NOT err STREQUAL "")
  message(FATAL_ERROR "the example wrote to standard error")
endif()
