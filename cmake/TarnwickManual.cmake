# Writes one manual page: the scdoc source TEMPLATE with the program's version,
# and, when PROGRAM is given, the SYNOPSIS, OPTIONS and COMMANDS sections that
# the program writes from its own command line, turned into roff by SCDOC.
# Installed pages are compressed, as man expects them; OUTPUT.gz beside it.
# RELEASE_EPOCH is the release day, which scdoc prints as the page's date.
# Run as: cmake -DTEMPLATE=... -DOUTPUT=... -DSCDOC=... -DVERSION=... -DRELEASE_EPOCH=... [-DPROGRAM=...] -P
file(READ "${TEMPLATE}" page)
string(REPLACE "@PROJECT_VERSION@" "${VERSION}" page "${page}")
if(PROGRAM)
  foreach(part synopsis commands)
    execute_process(COMMAND "${PROGRAM}" --print-docs ${part}
      OUTPUT_VARIABLE text RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "${PROGRAM} --print-docs ${part} failed: ${failed}")
    endif()
    string(TOUPPER "${part}" placeholder)
    string(REPLACE "@${placeholder}@" "${text}" page "${page}")
  endforeach()
endif()
file(WRITE "${OUTPUT}.scd" "${page}")
set(ENV{SOURCE_DATE_EPOCH} "${RELEASE_EPOCH}")
execute_process(COMMAND "${SCDOC}" INPUT_FILE "${OUTPUT}.scd" OUTPUT_FILE "${OUTPUT}" RESULT_VARIABLE failed)
if(failed)
  file(REMOVE "${OUTPUT}")
  message(FATAL_ERROR "scdoc could not read ${OUTPUT}.scd")
endif()
# -n leaves the time out, so the same page gives the same bytes.
execute_process(COMMAND gzip -9 -n -k -f "${OUTPUT}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip could not compress ${OUTPUT}")
endif()
