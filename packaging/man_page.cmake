# Writes a man page whose body is a program's own --help text, so the two never drift:
#   cmake -DPROGRAM=... -DNAME=scan39 -DVERSION=... -DSUMMARY=... -DOUTPUT=... -P man_page.cmake
execute_process(COMMAND "${PROGRAM}" --help RESULT_VARIABLE rc OUTPUT_VARIABLE help
                ENCODING UTF-8)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed: ${rc}")
endif()
# roff: a backslash is written \e, and a line may not start with a dot or an apostrophe.
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
# Subcommands (-DSUBCOMMANDS=split) get a section each with their own --help.
set(subsections "")
foreach(sub IN LISTS SUBCOMMANDS)
  execute_process(COMMAND "${PROGRAM}" ${sub} --help RESULT_VARIABLE rc OUTPUT_VARIABLE subhelp
                  ENCODING UTF-8)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${sub} --help failed: ${rc}")
  endif()
  string(REPLACE "\\" "\\e" subhelp "${subhelp}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" subhelp "${subhelp}")
  string(TOUPPER "${NAME} ${sub}" subtitle)
  string(APPEND subsections ".SH ${subtitle}\n.nf\n${subhelp}.fi\n")
endforeach()
string(TOUPPER "${NAME}" title)
file(WRITE "${OUTPUT}.tmp" ".TH ${title} 1 \"\" \"${NAME} ${VERSION}\" \"User Commands\"
.SH NAME
${NAME} \\- ${SUMMARY}
.SH DESCRIPTION
The text below is what
.B ${NAME} --help
prints (in English; with LANG, LC_MESSAGES or LC_ALL starting with zh, in Chinese).
.PP
.nf
${help}.fi
${subsections}.SH SEE ALSO
.BR scan39-demo (1)
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
