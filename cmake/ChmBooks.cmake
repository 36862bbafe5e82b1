# Compiling Compiled HTML Help books at build time with chmcmd (Free Pascal's CHM compiler,
# Debian package fp-utils).
#
#   pagewick_add_chm_book(<output.chm> PROJECT <project.hhp> [ENCODING <code page>]
#                         [DEPENDS <files>...])
#
# compiles <project.hhp> into <output.chm> (relative paths: the output against the current
# binary folder, the project against the current source folder). chmcmd writes the book named by
# the project's "Compiled file=" line beside the project, so a project kept in the source tree is
# first copied into a staging folder of the build tree and compiled there; the source tree never
# receives build output. With ENCODING, the staged text files (.htm, .html, .hhp, .hhc, .hhk,
# .css, .js, .txt) are converted from UTF-8 into that code page first (iconv), so that books in
# other code pages can be kept as UTF-8 in git. Every file beside the project is a dependency;
# DEPENDS adds more. A project that already lives in the build tree (a generated book) is
# compiled in place and depends only on the project file and DEPENDS.
#
# The caller gathers the outputs under a target of its own, e.g.
#   add_custom_target(my_books ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/a.chm)

if(CMAKE_BINARY_DIR STREQUAL CMAKE_SOURCE_DIR)
  message(FATAL_ERROR "Pagewick builds out of source only, e.g.: cmake -S . -B build\n"
                      "Remove CMakeCache.txt and CMakeFiles/ from the source folder first.")
endif()

find_program(PAGEWICK_CHMCMD chmcmd DOC "Free Pascal's CHM compiler")
if(NOT PAGEWICK_CHMCMD)
  message(FATAL_ERROR "chmcmd, the CHM compiler that builds the help and test books, was not "
                      "found. It comes with Debian's fp-utils package: run "
                      "'bash scripts/install-deps.sh' or 'sudo apt-get install fp-utils'.")
endif()

set(PAGEWICK_COMPILE_CHM_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/CompileChmBook.cmake")

function(pagewick_add_chm_book output)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "PROJECT;ENCODING" "DEPENDS")
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "pagewick_add_chm_book: unexpected arguments: ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT ARG_PROJECT)
    message(FATAL_ERROR "pagewick_add_chm_book(${output}): PROJECT <file.hhp> is required")
  endif()

  get_filename_component(output "${output}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  get_filename_component(project "${ARG_PROJECT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(project_dir "${project}" DIRECTORY)
  get_filename_component(project_name "${project}" NAME)
  get_filename_component(book_name "${output}" NAME_WE)

  set(depends ${ARG_DEPENDS})
  file(RELATIVE_PATH project_in_build "${CMAKE_BINARY_DIR}" "${project}")
  if(project_in_build MATCHES "^\\.\\./" OR IS_ABSOLUTE "${project_in_build}")
    # A project in the source tree: compile a staged copy, rebuilt whenever any file beside
    # the project changes (new files are picked up at the next configure, which the glob
    # triggers by itself).
    set(stage_dir "${CMAKE_CURRENT_BINARY_DIR}/chm-staging/${book_name}")
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS LIST_DIRECTORIES false "${project_dir}/*")
    list(APPEND depends ${sources})
  else()
    set(stage_dir "${project_dir}")
    list(APPEND depends "${project}")
  endif()

  set(encoding_args)
  if(ARG_ENCODING)
    find_program(PAGEWICK_ICONV iconv DOC "iconv, converts text between code pages")
    if(NOT PAGEWICK_ICONV)
      message(FATAL_ERROR "iconv was not found; it is needed to write ${book_name} in ${ARG_ENCODING}")
    endif()
    set(encoding_args "-DENCODING=${ARG_ENCODING}" "-DICONV=${PAGEWICK_ICONV}")
  endif()

  add_custom_command(
    OUTPUT "${output}"
    COMMAND "${CMAKE_COMMAND}"
            "-DCHMCMD=${PAGEWICK_CHMCMD}"
            "-DSOURCE_DIR=${project_dir}"
            "-DPROJECT=${project_name}"
            "-DSTAGE_DIR=${stage_dir}"
            "-DOUTPUT=${output}"
            ${encoding_args}
            -P "${PAGEWICK_COMPILE_CHM_SCRIPT}"
    DEPENDS ${depends} "${PAGEWICK_COMPILE_CHM_SCRIPT}"
    COMMENT "Compiling CHM book ${book_name}"
    VERBATIM)
endfunction()
