# Writes the desktop entry for the installed program (run by `cmake --install`,
# so it names the real install prefix). Expects RIL_PROGRAM_DIR, RIL_DESKTOP_IN
# and RIL_DESKTOP_OUT.
set(dir "${CMAKE_INSTALL_PREFIX}/${RIL_PROGRAM_DIR}")
# Exec is a quoted argument: ", `, $ and \ are escaped for the quoting and
# once more for the string; % is doubled.
set(program "${dir}/rilmaton")
string(REPLACE "\\" "\\\\\\\\" program "${program}")
string(REPLACE "\"" "\\\\\"" program "${program}")
string(REPLACE "`" "\\\\`" program "${program}")
string(REPLACE "$" "\\\\$" program "${program}")
string(REPLACE "%" "%%" program "${program}")
string(REPLACE "\\" "\\\\" dir "${dir}")
set(RIL_INSTALL_PROGRAM "${program}")
set(RIL_INSTALL_DIR "${dir}")
configure_file("${RIL_DESKTOP_IN}" "${RIL_DESKTOP_OUT}" @ONLY)
