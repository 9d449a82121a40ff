# Writes the man page of a program from its --help and --version with
# help2man; for a program with subcommands (COMMANDS set, ftjpeg), the help of
# every command listed under "Commands:" follows in a section of its own.
#   cmake -DHELP2MAN=... -DPROGRAM=... -DNAME=... -DDESCRIPTION=... -DOUTPUT=... [-DCOMMANDS=ON] -P manpage.cmake
set(ENV{QT_QPA_PLATFORM} offscreen)
set(include_file ${OUTPUT}.h2m)

function(roff_block text result)
    # Literal text: backslashes doubled, lines starting with a dot or quote
    # protected by a zero-width character.
    string(REPLACE "\\" "\\e" text "${text}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
    set(${result} ".nf\n${text}\n.fi\n" PARENT_SCOPE)
endfunction()

if(COMMANDS)
    execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE top RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${PROGRAM} --help failed")
    endif()
    string(REGEX MATCH "Commands:\n(  [^\n]*\n)+" listing "${top}")
    string(REGEX MATCHALL "\n  [a-z-]+" names "${listing}")
    file(WRITE ${include_file} "[COMMANDS]\n")
    foreach(name IN LISTS names)
        string(STRIP "${name}" name)
        execute_process(COMMAND ${PROGRAM} ${name} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "${PROGRAM} ${name} --help failed")
        endif()
        roff_block("${help}" block)
        file(APPEND ${include_file} ".SS ${name}\n${block}")
    endforeach()
endif()

set(include_option)
if(COMMANDS)
    set(include_option --include=${include_file})
endif()
execute_process(COMMAND ${HELP2MAN} --no-info --name=${DESCRIPTION} ${include_option} --output=${OUTPUT} ${PROGRAM}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "help2man failed for ${PROGRAM}")
endif()
