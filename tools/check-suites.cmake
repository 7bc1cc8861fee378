# Checks that a built tree registers every suite tools/test.sh promises, and
# prints how many tests it has. Fails, naming what is missing, when a suite is
# absent or a test program was not built.
#
#   cmake -DBUILD_DIR=build -P tools/check-suites.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT BUILD_DIR)
  message(FATAL_ERROR "usage: cmake -DBUILD_DIR=<build> -P tools/check-suites.cmake")
endif()

# description | what is matched (name or the program) | regular expression
set(promised
  "unit tests|label|^unit$"
  "end-to-end tests|label|^e2e$"
  "routing core|program|/test_routing$"
  "simulated desktop|program|/sim_desktop_tests$"
  "velmora-sim examples|name|^example\\."
  "Linux back ends: PulseAudio|program|/test_linux_pulse$"
  "Linux back ends: X11|program|/test_linux_x11$"
  "Linux back ends: /proc|program|/test_linux_proc$"
  "back ends against real servers|program|/test_linux_servers$"
  "tray shell|program|/test_app_shell$"
  "shell services|program|/test_app_services$"
  "tray smoke test|name|^velmora_smoke_"
  "end-to-end routing on PulseAudio|name|^e2e\\.pulse\\."
  "end-to-end routing on PipeWire|name|^e2e\\.pipewire\\."
  "Linux back ends: KDE Plasma|program|/test_linux_kde$"
  "KWin script client on a private bus|program|/test_linux_kde_bus$"
  "KWin script under node|name|^kwin\\.script$"
  "KWin script lint|name|^kwin\\.lint$"
  "end-to-end routing on KDE Plasma|name|^e2e\\.kde\\."
  "Linux back ends: sway|program|/test_linux_sway$"
  "Linux back ends: Wayland displays|program|/test_linux_wayland$"
  "end-to-end routing on sway|name|^e2e\\.sway\\."
)

get_filename_component(cmake_bin "${CMAKE_COMMAND}" DIRECTORY)
execute_process(COMMAND "${cmake_bin}/ctest" --show-only=json-v1
                WORKING_DIRECTORY "${BUILD_DIR}" OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ctest cannot list the tests of ${BUILD_DIR}")
endif()

string(JSON total LENGTH "${listing}" tests)
set(names "")
set(programs "")
set(labels "")
set(not_built "")
if(total GREATER 0)
  math(EXPR last "${total} - 1")
  foreach(i RANGE ${last})
    string(JSON name GET "${listing}" tests ${i} name)
    # A test program that failed to build stands in as one placeholder test.
    if(name MATCHES "_NOT_BUILT$")
      list(APPEND not_built "${name}")
    endif()
    list(APPEND names "${name}")
    string(JSON program ERROR_VARIABLE no_command GET "${listing}" tests ${i} command 0)
    if(no_command)
      set(program "")
    endif()
    list(APPEND programs "${program}")
    set(test_labels "")
    string(JSON nprops ERROR_VARIABLE no_props LENGTH "${listing}" tests ${i} properties)
    if(NOT no_props AND nprops GREATER 0)
      math(EXPR plast "${nprops} - 1")
      foreach(p RANGE ${plast})
        string(JSON pname GET "${listing}" tests ${i} properties ${p} name)
        if(pname STREQUAL "LABELS")
          string(JSON nvalues LENGTH "${listing}" tests ${i} properties ${p} value)
          math(EXPR vlast "${nvalues} - 1")
          foreach(v RANGE ${vlast})
            string(JSON label GET "${listing}" tests ${i} properties ${p} value ${v})
            string(APPEND test_labels "${label},")
          endforeach()
        endif()
      endforeach()
    endif()
    list(APPEND labels "${test_labels}")
  endforeach()
endif()

set(missing "")
set(report "")
foreach(entry IN LISTS promised)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 description)
  list(GET parts 1 field)
  list(GET parts 2 pattern)
  set(count 0)
  if(total GREATER 0)
    foreach(i RANGE ${last})
      if(field STREQUAL "name")
        list(GET names ${i} value)
        set(values "${value}")
      elseif(field STREQUAL "program")
        list(GET programs ${i} value)
        set(values "${value}")
      else()
        list(GET labels ${i} value)
        string(REPLACE "," ";" values "${value}")
      endif()
      foreach(value IN LISTS values)
        if(value MATCHES "${pattern}")
          math(EXPR count "${count} + 1")
          break()
        endif()
      endforeach()
    endforeach()
  endif()
  string(APPEND report "  ${count}\t${description}\n")
  if(count EQUAL 0)
    list(APPEND missing "${description}")
  endif()
endforeach()

message("${total} tests registered in ${BUILD_DIR}:\n${report}")
set(problems "")
if(not_built)
  list(JOIN not_built ", " not_built_text)
  string(APPEND problems "test programs not built: ${not_built_text}\n")
endif()
if(missing)
  list(JOIN missing ", " missing_text)
  string(APPEND problems "suites missing: ${missing_text}\n"
                        "(is ${BUILD_DIR} configured with -DVELMORA_BUILD_APP=ON -DVELMORA_BUILD_LINUX=ON "
                        "-DVELMORA_BUILD_TESTS=ON?)\n")
endif()
if(problems)
  message(FATAL_ERROR "${problems}")
endif()
