# cmake -DCOMMAND=<java|...|ScanFrame> -DCASE=<case> -DWORKDIR=<dir> -P run_scan.cmake
# Runs the main program in a fresh WORKDIR as a user would and checks exit status, output and
# the files written for one case:
#   scan          a scan of the drilled frame (port 4) as job T1: exit 0, the report, progress
#                 said once per step, out/T1.dcs with the field drill layout, out/T1.svg
#   both_eyes     both eyes of the aviator frame traced one after the other: two traces in the file
#   default_name  two runs without a job name: two pairs of files named after the time, none replaced
#   exists        out/T1.dcs exists: exit 3 before scanning, the file untouched, nothing written
#   overwrite     out/T1.dcs exists and --overwrite: exit 0, the file replaced
#   bad_out       the output folder is a file: exit 3 before scanning, nothing written
#   bad_option    an unknown option: exit 2, the reason and the usage on stderr, nothing written
#   device_error  a scan the component refuses to start (SCANMONTURA_SIM_FRAME names no frame):
#                 exit 1, its description and the HRESULT, nothing written (not even the default
#                 output folder)
#   killed        SIGTERM while scanning, the output folder three levels deep and new: status 143,
#                 nothing left, not even the folders that the check before the scan made
string(REPLACE "|" ";" command "${COMMAND}")
file(REMOVE_RECURSE ${WORKDIR})
file(MAKE_DIRECTORY ${WORKDIR})

set(runs 1)
set(stdout_patterns)
set(stdout_absent)
set(stderr_patterns)
set(files)            # files that must exist, not empty
set(file_texts)       # "file=>text" pairs: the file holds the text (%3B for ';'), ^text: starts with it
set(setup)            # "file=>text" pairs written before the run
set(scanned "Scanning +100%")
if(CASE STREQUAL "scan")
  set(args --port 4 --speed 10 --job T1 --out out)
  set(status 0)
  set(stdout_patterns
    "ScanMontura component \\{834FBEE5-D957-11D3-9C50-0060972F00DC\\}"
    "Bound IScanMontura and IScanMonturaEvents"
    "Event listener registered \\(cookie [1-9]"
    "Box width +[0-9]+\\.[0-9][0-9] mm" "Box height +[0-9]+\\.[0-9][0-9] mm"
    "DBL +[0-9]+\\.[0-9][0-9] mm" "Distance between centres +[0-9]+\\.[0-9][0-9] mm"
    "Base curve +[0-9]+\\.[0-9][0-9] D" "Perimeter +[0-9]+\\.[0-9][0-9] mm"
    "Drill holes +2" "at x +22\\.50, y +4\\.00 mm \\(nasal\\)" "Trace points +400"
    "Consistency: .*: consistent"
    "DCS file +out/T1\\.dcs \\(job T1, both eyes: right traced, left mirrored\\)"
    "SVG file +out/T1\\.svg" "Device closed")
  # Progress to a pipe: each step once, and the component's "Scanning 10%" not said again.
  foreach(percent 0 10 20 30 40 50 60 70 80 90 100)
    list(APPEND stdout_patterns "\nScanning +${percent}%")
    list(APPEND stdout_absent "Scanning +${percent}%.*\nScanning +${percent}%")
  endforeach()
  list(APPEND stdout_absent "Scanning[^\n]*Scanning")
  set(files out/T1.dcs out/T1.svg)
  set(file_texts
    "out/T1.dcs=>^JOB=T1\r\nDEV=ScanMontura\r\nVEN=ScanMontura\r\nFTYP=3\r\nETYP=2\r\nTRCFMT=1%3B400%3BE%3BR%3BD\r\n"
    "out/T1.dcs=>\r\nDRILLE=R%3BC%3B22.50%3B4.00%3B1.40\r\nDRILLE=R%3BC%3B-22.50%3B4.00%3B1.40\r\nDRILLE=L%3BC%3B-22.50%3B4.00%3B1.40\r\nDRILLE=L%3BC%3B22.50%3B4.00%3B1.40\r\n"
    "out/T1.svg=>Seen from the front"
    "out/T1.svg=>data-side=\"nasal\"")
elseif(CASE STREQUAL "both_eyes")
  set(args --port 3 --speed 10 --eye B --job AV-2 --out out)
  set(status 0)
  set(stdout_patterns "right eye; tracer calibrated" "left eye; tracer calibrated"
    "Frame trace, right eye" "Frame trace, left eye" "DCS file +out/AV-2\\.dcs \\(job AV-2, both eyes traced\\)")
  set(files out/AV-2.dcs out/AV-2.svg)
  set(file_texts "out/AV-2.dcs=>\r\nTRCFMT=1%3B400%3BE%3BR%3BF\r\n" "out/AV-2.dcs=>\r\nTRCFMT=1%3B400%3BE%3BL%3BF\r\n")
  list(APPEND stdout_absent "FTYP")
elseif(CASE STREQUAL "default_name")
  set(runs 2)
  set(args --port 1 --speed 10)
  set(status 0)
  set(stdout_patterns "DCS file +scan-output/JTZ[0-9]+(-2)?\\.dcs")
elseif(CASE STREQUAL "exists")
  set(args --port 4 --speed 10 --job T1 --out out)
  set(status 3)
  set(setup "out/T1.dcs=>keep me")
  set(stderr_patterns "scan: output: out/T1\\.dcs: already exists.*nothing was scanned")
  set(file_texts "out/T1.dcs=>^keep me")
elseif(CASE STREQUAL "overwrite")
  set(args --port 4 --speed 10 --job T1 --out out --overwrite)
  set(status 0)
  set(setup "out/T1.dcs=>keep me")
  set(files out/T1.dcs out/T1.svg)
  set(file_texts "out/T1.dcs=>^JOB=T1\r\n")
elseif(CASE STREQUAL "bad_out")
  set(args --port 4 --speed 10 --job T1 --out blocker)
  set(status 3)
  set(setup "blocker=>a file")
  set(stderr_patterns "scan: output: .*blocker is not a folder; nothing was scanned")
elseif(CASE STREQUAL "bad_option")
  set(args --port 1 --colour red)
  set(status 2)
  set(stdout_patterns "^$")
  set(stderr_patterns "unknown option --colour" "Usage: scan" "--eye R\\|L\\|B")
elseif(CASE STREQUAL "device_error")
  set(ENV{SCANMONTURA_SIM_FRAME} bogus)
  set(args --port 3)
  set(status 1)
  set(stderr_patterns "device error: starting the scan: .+ \\(HRESULT 0x8[0-9A-F]+\\)")
elseif(CASE STREQUAL "killed")
  list(PREPEND command ${CMAKE_CURRENT_LIST_DIR}/kill_scan.sh)
  set(args --port 4 --speed 1 --eye B --job K1 --out killdir/a/b)
  set(status 143)
  set(stdout_patterns "\nScanning +0%")
else()
  message(FATAL_ERROR "unknown case ${CASE}")
endif()

foreach(pair IN LISTS setup)
  string(REPLACE "=>" ";" pair "${pair}")
  list(GET pair 0 name)
  list(GET pair 1 text)
  file(WRITE ${WORKDIR}/${name} "${text}")
endforeach()
file(GLOB_RECURSE before RELATIVE ${WORKDIR} ${WORKDIR}/*)

set(out "")
set(err "")
set(failures "")
foreach(run RANGE 1 ${runs})
  execute_process(COMMAND ${command} ${args} WORKING_DIRECTORY ${WORKDIR}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE run_out ERROR_VARIABLE run_err)
  message("--- run ${run}: stdout\n${run_out}--- stderr\n${run_err}---")
  string(APPEND out "${run_out}")
  string(APPEND err "${run_err}")
  if(NOT rc STREQUAL "${status}")
    string(APPEND failures "run ${run}: exit status ${rc}, expected ${status}\n")
  endif()
endforeach()

if(NOT status EQUAL 0 AND NOT status EQUAL 1)
  list(APPEND stdout_absent "${scanned}")  # refused before the scan
endif()
foreach(pattern IN LISTS stdout_patterns)
  if(NOT out MATCHES "${pattern}")
    string(APPEND failures "stdout lacks /${pattern}/\n")
  endif()
endforeach()
foreach(pattern IN LISTS stdout_absent)
  if(out MATCHES "${pattern}")
    string(APPEND failures "stdout has /${pattern}/\n")
  endif()
endforeach()
foreach(pattern IN LISTS stderr_patterns)
  if(NOT err MATCHES "${pattern}")
    string(APPEND failures "stderr lacks /${pattern}/\n")
  endif()
endforeach()
foreach(name IN LISTS files)
  if(NOT EXISTS ${WORKDIR}/${name})
    string(APPEND failures "${name} not written\n")
  else()
    file(SIZE ${WORKDIR}/${name} size)
    if(size EQUAL 0)
      string(APPEND failures "${name} is empty\n")
    endif()
  endif()
endforeach()
foreach(pair IN LISTS file_texts)
  string(FIND "${pair}" "=>" at)
  string(SUBSTRING "${pair}" 0 ${at} name)
  math(EXPR at "${at} + 2")
  string(SUBSTRING "${pair}" ${at} -1 expected)
  string(REPLACE "%3B" ";" expected "${expected}")
  set(first FALSE)
  if(expected MATCHES "^\\^")
    set(first TRUE)
    string(SUBSTRING "${expected}" 1 -1 expected)
  endif()
  if(NOT EXISTS ${WORKDIR}/${name})
    string(APPEND failures "${name} missing\n")
  else()
    # file(READ) drops CR unless it reads hex digits: compare those.
    file(READ ${WORKDIR}/${name} text HEX)
    string(HEX "${expected}" expected_hex)
    string(FIND "${text}" "${expected_hex}" found)
    math(EXPR odd "${found} % 2")
    if(found LESS 0 OR odd OR (first AND NOT found EQUAL 0))
      string(REPLACE "\r" "\\r" shown "${expected}")
      string(APPEND failures "${name} lacks \"${shown}\"${first}\n")
    endif()
  endif()
endforeach()

# What is there now: the setup files, the expected files, nothing half-written or temporary.
file(GLOB_RECURSE after RELATIVE ${WORKDIR} LIST_DIRECTORIES false ${WORKDIR}/* ${WORKDIR}/.*)
file(GLOB_RECURSE hidden RELATIVE ${WORKDIR} ${WORKDIR}/*/.*)
list(APPEND after ${hidden})
list(REMOVE_DUPLICATES after)
if(CASE STREQUAL "default_name")
  list(FILTER after INCLUDE REGEX "\\.(dcs|svg)$")
  list(LENGTH after count)
  if(NOT count EQUAL 4)
    string(APPEND failures "two runs left ${count} output files, not 4: ${after}\n")
  endif()
else()
  list(REMOVE_ITEM after ${before} ${files})
  if(after)
    string(APPEND failures "unexpected files: ${after}\n")
  endif()
  if(NOT status EQUAL 0)
    file(GLOB folders LIST_DIRECTORIES true RELATIVE ${WORKDIR} ${WORKDIR}/*)
    file(GLOB setup_folders LIST_DIRECTORIES true RELATIVE ${WORKDIR} ${WORKDIR}/*)
    if(NOT setup AND folders)
      string(APPEND failures "left behind although the run failed: ${folders}\n")
    endif()
  endif()
endif()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
