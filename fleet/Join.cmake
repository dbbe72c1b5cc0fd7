# Makes one shipped fleet script: MAIN with its parameters (PARAMETERS) and the functions every
# script shares (FUNCTIONS) in place of its line "# <the parameters and functions of fleet/>",
# written to OUT. PowerShell takes a script's param() only before anything else runs.
# Usage: cmake -DMAIN=... -DPARAMETERS=... -DFUNCTIONS=... -DOUT=... -P Join.cmake
file(READ ${MAIN} main)
file(READ ${PARAMETERS} parameters)
file(READ ${FUNCTIONS} functions)
set(place "# <the parameters and functions of fleet/>\n")
string(FIND "${main}" "${place}" at)
if(at EQUAL -1)
    message(FATAL_ERROR "${MAIN} has no line '${place}'")
endif()
string(REPLACE "${place}" "${parameters}${functions}" joined "${main}")
file(WRITE ${OUT} "${joined}")
