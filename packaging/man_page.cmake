# Writes a man page from a program's own --help text and a template, so that the page and
# --help never drift: --help is the one source of the synopsis, the options and their
# descriptions, the output, the exit status and the language; the template adds what a
# terminal's help has no room for (examples, comparisons, files).
#   cmake -DPROGRAM=... -DVERSION=... -DTEMPLATE=x.1.in -DOUTPUT=x.1 -P man_page.cmake
#
# --help is read by its layout:
#   "Usage: ..." (or argparse's "usage:") and the lines under it         -> @SYNOPSIS@
#   paragraphs up to the first list of options   -> @DESCRIPTION@
#   "Heading:" followed by "  -x, --opt VALUE  text" lines (continued by deeper indented
#   lines)                                       -> @OPTIONS@, a .TP entry per option
#   "Exit status: ..." paragraph                 -> @EXIT_STATUS@
#   "Language: ..." paragraph                    -> @ENVIRONMENT@
#   everything else after the options            -> @OUTPUT@ (indented lines kept as laid out)
# Nothing is dropped: a part the layout does not know ends up in @OUTPUT@.
cmake_policy(VERSION 3.25)
execute_process(COMMAND "${PROGRAM}" --help RESULT_VARIABLE rc OUTPUT_VARIABLE help
                ENCODING UTF-8)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed: ${rc}")
endif()

# roff: a backslash is \e, a line may not start with a dot or an apostrophe, and a dash that
# starts an option is a minus sign (\-), so that it can be copied and searched for.
function(roff out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "--" "\\-\\-" text "${text}")
  string(REGEX REPLACE "(^|[][ (|,\"'=\n])-([A-Za-z0-9])" "\\1\\\\-\\2" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Lines without a terminating line feed. A list would not split inside square brackets and
# would eat semicolons: both stand in for themselves as control characters until a line is read.
string(ASCII 1 _open)
string(ASCII 2 _close)
string(ASCII 3 _semicolon)
string(REPLACE "[" "${_open}" help "${help}")
string(REPLACE "]" "${_close}" help "${help}")
string(REPLACE ";" "${_semicolon}" help "${help}")
string(REGEX REPLACE "\n$" "" help "${help}")
string(REPLACE "\n" ";" lines "${help}")

# The line without its first n characters (string(REGEX REPLACE "^...") would match again at
# each place it stopped).
function(drop_indent out line n)
  string(LENGTH "${line}" length)
  if(length GREATER_EQUAL n)
    string(SUBSTRING "${line}" ${n} -1 line)
  endif()
  set(${out} "${line}" PARENT_SCOPE)
endfunction()

set(synopsis "")
set(description "")
set(options "")
set(output "")
set(exit_status "")
set(environment "")
set(part usage)          # usage, description, options, rest
set(target description)  # where the paragraph being read goes
set(pending_heading "")  # an unindented line ending in ':' that may head options
set(in_option FALSE)
set(preformatted FALSE)  # inside an .nf block of @OUTPUT@

macro(close_preformatted)
  if(preformatted)
    string(APPEND output ".fi\n.RE\n")
    set(preformatted FALSE)
  endif()
endmacro()

# A function, not a macro: a macro would read the line's backslashes as escapes.
function(add_text var line)
  roff(_t "${line}")
  set(${var} "${${var}}${_t}\n" PARENT_SCOPE)
endfunction()

foreach(line IN LISTS lines)
  string(REPLACE "${_open}" "[" line "${line}")
  string(REPLACE "${_close}" "]" line "${line}")
  string(REPLACE "${_semicolon}" ";" line "${line}")
  if(part STREQUAL "usage")
    if(line MATCHES "^[Uu]sage: (.*)$")
      roff(_t "${CMAKE_MATCH_1}")
      string(APPEND synopsis "${_t}\n")
    elseif(line STREQUAL "")
      set(part description)
    else()
      if(line MATCHES "^       ")
        drop_indent(line "${line}" 7)
      endif()
      roff(_t "${line}")
      string(APPEND synopsis "${_t}\n")
    endif()
    continue()
  endif()

  # An option line: two blanks, a dash, the name and its value, two or more blanks, the text.
  # After the options, such lines are options only under a heading of their own (the JSON
  # members' "  --sample, ..." is not one).
  # Positional arguments (argparse's "  PATH  text") are listed as options are.
  if(line MATCHES "^  (-|[A-Z][A-Z_]*( |$))" AND (NOT part STREQUAL "rest" OR pending_heading))
    if(pending_heading)
      close_preformatted()
      string(APPEND options ".PP\n")
      add_text(options "${pending_heading}")
      set(pending_heading "")
    endif()
    set(part options)
    string(SUBSTRING "${line}" 2 -1 entry)
    string(FIND "${entry}" "  " gap)
    if(gap EQUAL -1)
      set(label "${entry}")
      set(text "")
    else()
      string(SUBSTRING "${entry}" 0 ${gap} label)
      string(SUBSTRING "${entry}" ${gap} -1 text)
      string(STRIP "${text}" text)
    endif()
    roff(label "${label}")
    if(label STREQUAL "-")
      set(label "\\-")
    endif()
    roff(text "${text}")
    string(APPEND options ".TP\n.B ${label}\n${text}\n")
    set(in_option TRUE)
    continue()
  endif()
  if(in_option AND line MATCHES "^     +(.*)$")
    add_text(options "${CMAKE_MATCH_1}")
    continue()
  endif()
  set(in_option FALSE)

  if(line STREQUAL "")
    if(pending_heading)
      add_text(${target} "${pending_heading}")
      set(pending_heading "")
    endif()
    close_preformatted()
    if(part STREQUAL "options" OR target MATCHES "^(exit_status|environment)$")
      set(part rest)
      set(target output)
    endif()
    if(NOT target STREQUAL "output" OR NOT output STREQUAL "")
      string(APPEND ${target} ".PP\n")
    endif()
    continue()
  endif()

  if(pending_heading)
    # The heading did not head options: it starts a paragraph of its part.
    close_preformatted()
    string(APPEND ${target} ".PP\n")
    add_text(${target} "${pending_heading}")
    set(pending_heading "")
  endif()

  if(line MATCHES "^Exit status: (.*)$")
    close_preformatted()
    set(part rest)
    set(target exit_status)
    add_text(exit_status "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^Language: (.*)$")
    close_preformatted()
    set(part rest)
    set(target environment)
    add_text(environment "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^[^ ].*:$")
    set(pending_heading "${line}")
  elseif(line MATCHES "^ ")
    # Indented lines after the options (the JSON members) keep their layout.
    if(NOT target STREQUAL "output")
      set(target output)
      set(part rest)
    endif()
    if(NOT preformatted)
      string(APPEND output ".RS 2\n.nf\n")
      set(preformatted TRUE)
    endif()
    drop_indent(line "${line}" 2)
    add_text(output "${line}")
  else()
    if(part STREQUAL "options")
      set(part rest)
      set(target output)
    endif()
    close_preformatted()
    add_text(${target} "${line}")
  endif()
endforeach()
if(pending_heading)
  add_text(${target} "${pending_heading}")
endif()
close_preformatted()

# Paragraph breaks at the very start or end of a part are noise to groff.
foreach(var synopsis description options output exit_status environment)
  string(REGEX REPLACE "^(\\.PP\n)+" "" ${var} "${${var}}")
  string(REGEX REPLACE "(\\.PP\n)+$" "" ${var} "${${var}}")
  string(REGEX REPLACE "(\\.PP\n)+" ".PP\n" ${var} "${${var}}")
  string(REGEX REPLACE "\n$" "" ${var} "${${var}}")
endforeach()
set(SYNOPSIS "${synopsis}")
set(DESCRIPTION "${description}")
set(OPTIONS "${options}")
set(OUTPUT_TEXT "${output}")
set(EXIT_STATUS "${exit_status}")
set(ENVIRONMENT "${environment}")
# Subcommands (-DSUBCOMMANDS=split): a section each, with the subcommand's own --help as it
# prints it.
set(SUBCOMMAND_SECTIONS "")
foreach(sub IN LISTS SUBCOMMANDS)
  execute_process(COMMAND "${PROGRAM}" ${sub} --help RESULT_VARIABLE rc OUTPUT_VARIABLE subhelp
                  ENCODING UTF-8)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${sub} --help failed: ${rc}")
  endif()
  roff(subhelp "${subhelp}")
  string(TOUPPER "${sub}" subtitle)
  string(APPEND SUBCOMMAND_SECTIONS ".SH ${subtitle}\n.nf\n${subhelp}.fi\n")
endforeach()
configure_file("${TEMPLATE}" "${OUTPUT}.tmp" @ONLY)
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
