# A refused scenario runs nothing, exits with 2 and explains itself in one
# line that names the file, line and column.
set(bad ${WORKDIR}/bad-scenario.json)
file(WRITE ${bad} "{\n  \"until\": 5,\n  \"events\": [ {\"at\": 1, \"do\": \"teleport\"} ]\n}\n")
execute_process(COMMAND ${SIM} ${bad} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT status EQUAL 2)
  message(FATAL_ERROR "expected exit status 2, got ${status}")
endif()
if(NOT out STREQUAL "")
  message(FATAL_ERROR "a refused scenario printed a transcript: ${out}")
endif()
if(NOT err STREQUAL "velmora-sim: ${bad}:3:25: unknown event \"teleport\"\n")
  message(FATAL_ERROR "unexpected refusal: ${err}")
endif()

execute_process(COMMAND ${SIM} ${WORKDIR}/no-such-file.json ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT status EQUAL 2 OR NOT err MATCHES "^velmora-sim: .*no-such-file.json: cannot read")
  message(FATAL_ERROR "missing file: status ${status}, ${err}")
endif()
