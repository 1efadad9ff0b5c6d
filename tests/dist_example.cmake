# cmake -DARCHIVE=<bundle .tar.gz> -DJAVA=<java> -DBUILD_DIR=<build tree> -P dist_example.cmake
# Unpacks the bundle into an empty folder outside the build tree and runs its example program
# from there, as a user would, with nothing but the bundle: the build tree is hidden from the run
# (a private mount namespace lays an empty folder over it), so a library that still looked into
# it would not load. The example's jar names jtrazelo.jar and scanmontura-sim.jar itself, and the
# libraries and the component's registration come from the bundle's lib folder. Checks that every
# shipped library finds the others through $ORIGIN alone, the exit status and what the example
# prints.
string(RANDOM LENGTH 8 tag)
set(tmp /tmp)
if(DEFINED ENV{TMPDIR} AND IS_DIRECTORY "$ENV{TMPDIR}")
  set(tmp $ENV{TMPDIR})
endif()
set(WORKDIR ${tmp}/jtz-dist-example-${tag})
string(FIND "${WORKDIR}/" "${BUILD_DIR}/" inside)
if(inside EQUAL 0)
  message(FATAL_ERROR "the work folder ${WORKDIR} lies in the build tree ${BUILD_DIR}")
endif()
file(MAKE_DIRECTORY ${WORKDIR}/unpacked ${WORKDIR}/run)
file(ARCHIVE_EXTRACT INPUT ${ARCHIVE} DESTINATION ${WORKDIR}/unpacked)
file(GLOB bundle LIST_DIRECTORIES true ${WORKDIR}/unpacked/jtrazelo-*)
list(LENGTH bundle count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "the bundle holds ${count} top folders: ${bundle}")
endif()
foreach(file jtrazelo.jar scanmontura-sim.jar jtrazelo-javadoc.jar README.txt
             docs/windows-deployment.md docs/linux-deployment.md example/ScanExample.java
             example/jtrazelo-example.jar lib/com-registry lib/libScanMonturaSimJava.so)
  if(NOT EXISTS ${bundle}/${file})
    message(FATAL_ERROR "the bundle lacks ${file}")
  endif()
endforeach()

# Shipped libraries look for each other beside themselves only.
file(GLOB libraries ${bundle}/lib/*.so)
foreach(library IN LISTS libraries)
  file(READ_ELF ${library} RPATH rpath RUNPATH runpath)
  foreach(entry IN LISTS rpath runpath)
    string(REPLACE ":" ";" entry "${entry}")
    foreach(path IN LISTS entry)
      if(NOT path STREQUAL "$ORIGIN")
        message(FATAL_ERROR "${library} searches ${path}: shipped libraries search $ORIGIN alone")
      endif()
    endforeach()
  endforeach()
endforeach()

# Nothing from the build's environment may help: no class path, library path or registry, and
# the build tree out of reach.
unset(ENV{CLASSPATH})
unset(ENV{LD_LIBRARY_PATH})
unset(ENV{JTZCOM_REGISTRY})
unset(ENV{SCANMONTURA_SIM_FRAME})
find_program(UNSHARE unshare)
if(NOT UNSHARE)
  message(FATAL_ERROR "unshare (util-linux) is needed to hide the build tree from the example")
endif()
set(hide [=[mount -t tmpfs jtz-hidden "$1" && test ! -e "$1/lib" && shift && exec "$@"]=])
execute_process(
  COMMAND ${UNSHARE} --mount --map-root-user sh -c "${hide}" hide ${BUILD_DIR}
          ${JAVA} -Xcheck:jni -Djava.library.path=${bundle}/lib -jar ${bundle}/example/jtrazelo-example.jar 4
  WORKING_DIRECTORY ${WORKDIR}/run
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(REMOVE_RECURSE ${WORKDIR})
message("--- stdout\n${out}--- stderr\n${err}---")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the example exited with ${status} (run with the build tree ${BUILD_DIR} hidden)")
endif()
foreach(pattern "Typed JOB#7, the control holds JOB7" "key: '#' swallowed"
                "component: Scanning [0-9]+%" "component: Trace: 400 points"
                "Box [0-9]+\\.[0-9][0-9] x [0-9]+\\.[0-9][0-9] mm, .* 400 points, 2 drill holes")
  if(NOT out MATCHES "${pattern}")
    message(FATAL_ERROR "the example's output lacks \"${pattern}\"")
  endif()
endforeach()
if(NOT err STREQUAL "")
  message(FATAL_ERROR "the example wrote to standard error")
endif()
