# SPDX-License-Identifier: GPL-3.0-or-later
# Run by CPack on its staging tree, after its own strip: drops the compiler's
# .comment section from the programs, as Debian's own packaging tools do.
# Each package's files are staged in a folder of their own (its component).
find_program(OBJCOPY NAMES objcopy REQUIRED)
file(GLOB programs "${CPACK_TEMPORARY_DIRECTORY}/usr/bin/*" "${CPACK_TEMPORARY_DIRECTORY}/*/usr/bin/*")
if(NOT programs)
    message(FATAL_ERROR "no programs under ${CPACK_TEMPORARY_DIRECTORY}/usr/bin")
endif()
foreach(program IN LISTS programs)
    execute_process(COMMAND ${OBJCOPY} --remove-section=.comment --remove-section=.note ${program}
        RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "objcopy failed on ${program}")
    endif()
endforeach()
