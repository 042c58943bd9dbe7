# The desktop launcher. It is written twice: into the build folder when the build is configured,
# and into the prefix when it is installed (this file is then read again by the install script).
# Each copy records the absolute path of the program beside it, which the launcher runs when it
# is not told where it lies or finds no program there.

# Escapes text as a key file's string value, the backslash first.
function(zipdrop_key_file_string out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\n" "\\n" text "${text}")
  string(REPLACE "\t" "\\t" text "${text}")
  string(REPLACE "\r" "\\r" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Quotes text as one argument of an Exec line: inside double quotes the line takes these four
# characters only behind a backslash, and a percent sign would start a field code.
function(zipdrop_exec_argument out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE "`" "\\`" text "${text}")
  string(REPLACE "$" "\\$" text "${text}")
  string(REPLACE "%" "%%" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

# Writes the launcher to destination with the given icon, recording program (an absolute path).
function(zipdrop_write_launcher destination icon program)
  set(resources "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../../resources")
  # The script without its comment lines and blank lines, which would only lengthen the line
  # that file managers show as the launcher's command.
  file(READ "${resources}/zipdrop_launcher.sh" script)
  string(REGEX REPLACE "\n[ \t]*#[^\n]*" "" script "\n${script}")
  string(REGEX REPLACE "\n([ \t]*\n)+" "\n" script "${script}")
  string(STRIP "${script}" script)
  zipdrop_exec_argument(script "${script}")
  zipdrop_exec_argument(program "${program}")
  # %k, the launcher's own path, may expand to nothing; the "--" after it always stays.
  zipdrop_key_file_string(ZIPDROP_EXEC "/bin/sh -c ${script} zipdrop ${program} %k -- %F")
  zipdrop_key_file_string(ZIPDROP_ICON "${icon}")
  file(READ "${resources}/zipdrop.desktop.in" template)
  string(CONFIGURE "${template}" launcher @ONLY)
  file(WRITE "${destination}" "${launcher}")
  file(CHMOD "${destination}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
       GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endfunction()
