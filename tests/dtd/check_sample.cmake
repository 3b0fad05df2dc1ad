# Checks one sample upload file against the document type with xmllint.
# -D XMLLINT=... -D DTD=... -D SAMPLE=... -D EXPECT=valid|invalid [-D MESSAGE=...]
# A sample must be well-formed either way, so that an invalid sample fails for
# the reason it was written for and not for a typing slip; an invalid one must
# also give the expected validity message.
execute_process(COMMAND ${XMLLINT} --noout --nonet ${SAMPLE}
    RESULT_VARIABLE wellFormed ERROR_VARIABLE parseErrors)
if(NOT wellFormed EQUAL 0)
    message(FATAL_ERROR "${SAMPLE} is not well-formed:\n${parseErrors}")
endif()

get_filename_component(dtdDir ${DTD} DIRECTORY)
execute_process(COMMAND ${XMLLINT} --noout --nonet --path ${dtdDir} --dtdvalid ${DTD} ${SAMPLE}
    RESULT_VARIABLE result ERROR_VARIABLE errors)
if(EXPECT STREQUAL "valid")
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${SAMPLE} should be valid:\n${errors}")
    endif()
elseif(EXPECT STREQUAL "invalid")
    if(result EQUAL 0)
        message(FATAL_ERROR "${SAMPLE} should not be valid")
    endif()
    string(FIND "${errors}" "${MESSAGE}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "${SAMPLE}: expected \"${MESSAGE}\" in:\n${errors}")
    endif()
else()
    message(FATAL_ERROR "EXPECT must be valid or invalid")
endif()
