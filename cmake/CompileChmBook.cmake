# Build-time step of pagewick_add_chm_book (ChmBooks.cmake), run with cmake -P.
#
# Inputs: CHMCMD, SOURCE_DIR (folder of the project), PROJECT (the .hhp file name in it),
# STAGE_DIR (where chmcmd runs; equal to SOURCE_DIR to compile in place), OUTPUT (the book to
# write), and optionally ENCODING with ICONV (convert the staged text files from UTF-8).

foreach(var CHMCMD SOURCE_DIR PROJECT STAGE_DIR OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "CompileChmBook.cmake: ${var} is not set")
  endif()
endforeach()

# The book chmcmd writes is the one the project names; without a name there is nothing to find.
file(STRINGS "${SOURCE_DIR}/${PROJECT}" compiled_lines REGEX "^[ \t]*[Cc][Oo][Mm][Pp][Ii][Ll][Ee][Dd] [Ff][Ii][Ll][Ee][ \t]*=")
list(LENGTH compiled_lines compiled_count)
if(NOT compiled_count EQUAL 1)
  message(FATAL_ERROR "${SOURCE_DIR}/${PROJECT} must name the book once with \"Compiled file=\"")
endif()
string(REGEX REPLACE "^[^=]*=[ \t]*" "" compiled_name "${compiled_lines}")
string(STRIP "${compiled_name}" compiled_name)
string(REPLACE "\\" "/" compiled_name "${compiled_name}")
get_filename_component(compiled_file "${compiled_name}" ABSOLUTE BASE_DIR "${STAGE_DIR}")

if(NOT STAGE_DIR STREQUAL SOURCE_DIR)
  file(REMOVE_RECURSE "${STAGE_DIR}")
  file(MAKE_DIRECTORY "${STAGE_DIR}")
  file(COPY "${SOURCE_DIR}/" DESTINATION "${STAGE_DIR}")
  # Never stage a stray compiled book that happens to sit in the source folder.
  file(REMOVE "${compiled_file}")

  if(DEFINED ENCODING AND NOT ENCODING STREQUAL "")
    file(GLOB_RECURSE text_files LIST_DIRECTORIES false
         "${STAGE_DIR}/*.htm" "${STAGE_DIR}/*.html" "${STAGE_DIR}/*.hhp" "${STAGE_DIR}/*.hhc"
         "${STAGE_DIR}/*.hhk" "${STAGE_DIR}/*.css" "${STAGE_DIR}/*.js" "${STAGE_DIR}/*.txt")
    foreach(text_file IN LISTS text_files)
      execute_process(
        COMMAND "${ICONV}" -f UTF-8 -t "${ENCODING}" "${text_file}"
        OUTPUT_FILE "${text_file}.converted"
        ERROR_VARIABLE iconv_error
        RESULT_VARIABLE iconv_result)
      if(NOT iconv_result EQUAL 0)
        message(FATAL_ERROR "Could not convert ${text_file} from UTF-8 to ${ENCODING}: ${iconv_error}")
      endif()
      file(RENAME "${text_file}.converted" "${text_file}")
    endforeach()
  endif()
else()
  file(REMOVE "${compiled_file}")
endif()

string(TIMESTAMP started "%s")
execute_process(
  COMMAND "${CHMCMD}" --verbosity 1 "${PROJECT}"
  WORKING_DIRECTORY "${STAGE_DIR}"
  OUTPUT_VARIABLE chmcmd_output
  ERROR_VARIABLE chmcmd_output
  RESULT_VARIABLE chmcmd_result)
string(TIMESTAMP finished "%s")
math(EXPR seconds "${finished} - ${started}")

# chmcmd answers 0 even when it reports errors, and some of its errors are false alarms (it
# does not resolve "../" in anchored links), so its complaints are shown, and only a missing
# book fails the step.
string(REGEX MATCHALL "(Error|Warning|Hint)[^\n]*" complaints "${chmcmd_output}")
foreach(line IN LISTS complaints)
  message("chmcmd ${PROJECT}: ${line}")
endforeach()
if(NOT chmcmd_result EQUAL 0 OR NOT EXISTS "${compiled_file}")
  message(FATAL_ERROR "chmcmd failed on ${SOURCE_DIR}/${PROJECT} (exit ${chmcmd_result}):\n${chmcmd_output}")
endif()

get_filename_component(output_dir "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${output_dir}")
file(RENAME "${compiled_file}" "${OUTPUT}")
if(seconds GREATER 4)
  message("chmcmd compiled ${OUTPUT} in ${seconds} s")
endif()
