# cmake -DCOMMAND=<java|...|ScanFrame> -DCASE=<case> -DWORKDIR=<dir> -P run_scan.cmake
# Runs the main program in a fresh WORKDIR as a user would and checks exit status, output and
# the files written for one case:
#   scan          a scan of the drilled frame (port 4): exit 0, the report, both files non-empty
#   bad_option    an unknown option: exit 2, the reason and the usage on stderr, nothing written
#   device_error  a port the component refuses: exit 1, its description and the HRESULT
string(REPLACE "|" ";" command "${COMMAND}")
file(REMOVE_RECURSE ${WORKDIR})
file(MAKE_DIRECTORY ${WORKDIR})

if(CASE STREQUAL "scan")
  set(args --port 4 --speed 10 --out out)
  set(status 0)
  set(stdout_patterns
    "ScanMontura component \\{834FBEE5-D957-11D3-9C50-0060972F00DC\\}"
    "Bound IScanMontura and IScanMonturaEvents"
    "Event listener registered \\(cookie [1-9]"
    "Scanning +100%"
    "Box width +[0-9]+\\.[0-9][0-9] mm" "Box height +[0-9]+\\.[0-9][0-9] mm"
    "DBL +[0-9]+\\.[0-9][0-9] mm" "Distance between centres +[0-9]+\\.[0-9][0-9] mm"
    "Base curve +[0-9]+\\.[0-9][0-9] D" "Perimeter +[0-9]+\\.[0-9][0-9] mm"
    "Drill holes +2" "Trace points +400"
    "Consistency: .*: consistent"
    "DCS file +out/frame.dcs" "SVG file +out/frame.svg" "Device closed")
  set(stderr_patterns)
  set(files out/frame.dcs out/frame.svg)
elseif(CASE STREQUAL "bad_option")
  set(args --port 1 --colour red)
  set(status 2)
  set(stdout_patterns "^$")
  set(stderr_patterns "unknown option --colour" "Usage: scan" "--eye R\\|L")
  set(files)
elseif(CASE STREQUAL "device_error")
  set(args --port 99)
  set(status 1)
  set(stdout_patterns)
  set(stderr_patterns "device error: opening port 99: .+ \\(HRESULT 0x8[0-9A-F]+\\)")
  set(files)
else()
  message(FATAL_ERROR "unknown case ${CASE}")
endif()

execute_process(COMMAND ${command} ${args} WORKING_DIRECTORY ${WORKDIR}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("--- stdout\n${out}--- stderr\n${err}---")
set(failures "")
if(NOT rc STREQUAL "${status}")
  string(APPEND failures "exit status ${rc}, expected ${status}\n")
endif()
foreach(pattern IN LISTS stdout_patterns)
  if(NOT out MATCHES "${pattern}")
    string(APPEND failures "stdout lacks /${pattern}/\n")
  endif()
endforeach()
foreach(pattern IN LISTS stderr_patterns)
  if(NOT err MATCHES "${pattern}")
    string(APPEND failures "stderr lacks /${pattern}/\n")
  endif()
endforeach()
foreach(file IN LISTS files)
  if(NOT EXISTS ${WORKDIR}/${file})
    string(APPEND failures "${file} not written\n")
  else()
    file(SIZE ${WORKDIR}/${file} size)
    if(size EQUAL 0)
      string(APPEND failures "${file} is empty\n")
    endif()
  endif()
endforeach()
if(NOT files)
  file(GLOB written ${WORKDIR}/*)
  if(written)
    string(APPEND failures "files written although the run failed: ${written}\n")
  endif()
endif()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
