# Shared by the example checks: included right after the example ran, with
# `result` and `output` set. Collects what is missing in `problems`.

set(problems)
if(NOT result EQUAL 0)
  list(APPEND problems "exit code ${result}, expected 0")
endif()

# <what> <regular expression>
function(qel_expect what regex)
  if(NOT output MATCHES "${regex}")
    set(problems ${problems} "missing: ${what}" PARENT_SCOPE)
  endif()
endfunction()

# <name of the example> <regular expression of lines that say it went wrong>
function(qel_report name unexpected)
  if(output MATCHES "${unexpected}")
    list(APPEND problems "the example reported an UNEXPECTED result or raised")
  endif()
  if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "${name}:\n  ${text}\n--- output ---\n${output}")
  endif()
  message(STATUS "${name}: ok")
endfunction()
