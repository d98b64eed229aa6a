# Makes the user guide the package installs from the README's user part:
#   cmake -DREADME=README.md -DGUIDE=user-guide.md -P dist/UserGuide.cmake
# The part lies between the lines "<!-- user-guide: begin -->" and "<!-- user-guide: end -->".
# The part is written to stand alone; only the pictures alone on their lines are left out, as
# they are not installed.
cmake_minimum_required(VERSION 3.16)
if(NOT README OR NOT GUIDE)
    message(FATAL_ERROR "UserGuide.cmake: give -DREADME=... and -DGUIDE=...")
endif()
file(READ "${README}" text)
set(begin "<!-- user-guide: begin -->\n")
set(end "<!-- user-guide: end -->")
string(FIND "${text}" "${begin}" from)
string(FIND "${text}" "${end}" to)
if(from LESS 0 OR to LESS from)
    message(FATAL_ERROR "UserGuide.cmake: ${README} has no user part between '${begin}' and '${end}'")
endif()
string(LENGTH "${begin}" skip)
math(EXPR from "${from} + ${skip}")
math(EXPR length "${to} - ${from}")
string(SUBSTRING "${text}" ${from} ${length} part)

# A picture alone on its line (indented too, inside a list) goes, with the blank line after it.
string(REGEX REPLACE "\n *!\\[[^\n]*\\]\\([^\n]*\\)\n( *\n)?" "\n" part "\n${part}")
string(REGEX REPLACE "^\n+" "" part "${part}")
string(REGEX REPLACE "\n+$" "\n" part "${part}")
file(WRITE "${GUIDE}.tmp" "# УЛМАР service utility: user guide\n\n${part}")
file(RENAME "${GUIDE}.tmp" "${GUIDE}")
