cmake_minimum_required(VERSION 3.25)
# Reads the installer package's tables back and checks what it runs, when and
# under which conditions.
# Usage: cmake -DPACKAGE=... -DMSIINFO=... -DVERSION=... -DARCH=x86|x64 -P check_package.cmake

set(failures "")
macro(expect what actual expected)
  if(NOT "${actual}" STREQUAL "${expected}")
    string(APPEND failures "\n  ${what}: '${actual}', expected '${expected}'")
  endif()
endmacro()

# ROWS gets the table's rows (after its three header lines), each a list of
# its columns joined by "|".
function(read_table table rows)
  execute_process(COMMAND "${MSIINFO}" export "${PACKAGE}" ${table}
                  OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "msiinfo cannot read the table ${table} of ${PACKAGE}")
  endif()
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "\t" "|" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  list(SUBLIST lines 3 -1 lines)
  list(FILTER lines EXCLUDE REGEX "^$")
  set(${rows} "${lines}" PARENT_SCOPE)
endfunction()

# The value of the first row whose first column is KEY, column COLUMN.
function(lookup rows key column out)
  set(found "(missing)")
  foreach(row IN LISTS rows)
    string(REPLACE "|" ";" columns "${row}")
    list(GET columns 0 first)
    if(first STREQUAL key)
      list(GET columns ${column} found)
      break()
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# A per-machine package of this version, for the build's processor: 32-bit
# (Intel) for the product, x64 for the test twin, whose every component is
# then 64-bit (attribute 256) and installs into the 64-bit program folder.
execute_process(COMMAND "${MSIINFO}" suminfo "${PACKAGE}" OUTPUT_VARIABLE summary)
string(REGEX MATCH "Template: [^\n]*" template "${summary}")
if(ARCH STREQUAL "x64")
  expect("platform" "${template}" "Template: x64;1033")
  set(component_bits 256)
  set(program_files ProgramFiles64Folder)
else()
  expect("platform" "${template}" "Template: Intel;1033")
  set(component_bits 0)
  set(program_files ProgramFilesFolder)
endif()
read_table(Component components)
foreach(row IN LISTS components)
  string(REPLACE "|" ";" columns "${row}")
  list(GET columns 0 component)
  list(GET columns 3 attributes)
  math(EXPR bits "${attributes} & 256")
  expect("${component} 64-bit attribute" "${bits}" "${component_bits}")
endforeach()
read_table(Directory directories)
lookup("${directories}" MakerFolder 1 value)
expect("the maker's folder's parent" "${value}" "${program_files}")
read_table(Property properties)
lookup("${properties}" ProductVersion 1 value)
expect("ProductVersion" "${value}" "${VERSION}")
lookup("${properties}" ALLUSERS 1 value)
expect("ALLUSERS" "${value}" "1")

# Four runs of the installed program: type 18 (an installed .exe), +0x40
# exit status ignored, +0x400 deferred, +0x800 without impersonation; and
# two more that undo a marker's change when the installation fails: +0x100
# rollback.
read_table(CustomAction actions)
foreach(action_type_argument MarkInstalled:3154:-i AnnounceInstalled:1106:-i
        MarkRemoved:3154:-u AnnounceRemoved:1106:-u UnmarkInstalled:3410:-u RemarkRemoved:3410:-i)
  string(REPLACE ":" ";" expected "${action_type_argument}")
  list(GET expected 0 action)
  list(GET expected 1 type)
  list(GET expected 2 argument)
  lookup("${actions}" ${action} 1 value)
  expect("${action} type" "${value}" "${type}")
  lookup("${actions}" ${action} 2 value)
  expect("${action} file" "${value}" "Fenwarel.exe")
  lookup("${actions}" ${action} 3 value)
  expect("${action} arguments" "${value}" "${argument}")
endforeach()

# -u only on a full uninstall that no upgrade drives, before anything is
# removed; -i on every installation that removes nothing, after the files
# and after the older version's removal; the system's run before the user's.
read_table(InstallExecuteSequence sequence)
set(removing "REMOVE~=\"ALL\" AND NOT UPGRADINGPRODUCTCODE")
foreach(action_condition RemarkRemoved:${removing} MarkRemoved:${removing}
        AnnounceRemoved:${removing} MarkInstalled:NOT\ REMOVE AnnounceInstalled:NOT\ REMOVE
        "UnmarkInstalled:NOT REMOVE AND NOT MARKERBEFORE=\"1\"")
  string(FIND "${action_condition}" ":" colon)
  string(SUBSTRING "${action_condition}" 0 ${colon} action)
  math(EXPR colon "${colon} + 1")
  string(SUBSTRING "${action_condition}" ${colon} -1 condition)
  lookup("${sequence}" ${action} 1 value)
  expect("${action} condition" "${value}" "${condition}")
endforeach()
# Each rollback action stands before the action it undoes.
set(order AppSearch InstallInitialize RemarkRemoved MarkRemoved AnnounceRemoved
    RemoveExistingProducts RemoveShortcuts RemoveFiles InstallFiles CreateShortcuts
    UnmarkInstalled MarkInstalled AnnounceInstalled InstallFinalize)
set(previous 0)
foreach(action IN LISTS order)
  lookup("${sequence}" ${action} 2 number)
  if(NOT number MATCHES "^[0-9]+$" OR NOT number GREATER previous)
    string(APPEND failures "\n  ${action} is at ${number}, not after ${previous}")
  endif()
  set(previous ${number})
endforeach()

# The marker as it was before, read from the program's registry view: the
# default value, raw, 64-bit (+16) for the twin.
read_table(RegLocator locators)
if(ARCH STREQUAL "x64")
  set(locator "2|Software/Zelmoor/Hotkey||18")
else()
  set(locator "2|Software/Zelmoor/Hotkey||2")
endif()
lookup("${locators}" MarkerBefore 1 root)
lookup("${locators}" MarkerBefore 2 key)
lookup("${locators}" MarkerBefore 3 name)
lookup("${locators}" MarkerBefore 4 type)
string(REPLACE "\\" "/" key "${key}")  # the macro would read a backslash as an escape
expect("the marker's search" "${root}|${key}|${name}|${type}" "${locator}")
read_table(AppSearch searches)
lookup("${searches}" MARKERBEFORE 1 value)
expect("the marker's search" "${value}" "MarkerBefore")

# The package of the same version under another product code (the release,
# a trial package) is removed too: VERSION up to the next patch, VERSION
# included (256), not only detected.
string(REPLACE "." ";" parts "${VERSION}")
list(GET parts 2 patch)
math(EXPR patch "${patch} + 1")
list(GET parts 0 major)
list(GET parts 1 minor)
read_table(Upgrade upgrades)
set(same "(missing)")
foreach(row IN LISTS upgrades)
  if(row MATCHES "^([^|]*)\\|([^|]*)\\|([^|]*)\\|([^|]*)\\|([^|]*)\\|([^|]*)\\|SAMEVERSIONFOUND$")
    set(same "${CMAKE_MATCH_2}|${CMAKE_MATCH_3}|${CMAKE_MATCH_5}")
  endif()
endforeach()
expect("the same version's upgrade" "${same}" "${VERSION}|${major}.${minor}.${patch}|256")
lookup("${properties}" SecureCustomProperties 1 value)
if(NOT value MATCHES "(^|,)SAMEVERSIONFOUND(,|$)")
  string(APPEND failures "\n  SAMEVERSIONFOUND is no secure property: '${value}'")
endif()

# A downgrade is refused with a message that says why.
read_table(LaunchCondition conditions)
lookup("${conditions}" "NOT WIX_DOWNGRADE_DETECTED" 1 value)
expect("downgrade message" "${value}"
       "A newer version of ZELMOOR Hotkey is already installed. Uninstall it first to install this older version.")

if(failures)
  message(FATAL_ERROR "${PACKAGE}:${failures}")
endif()
message(STATUS "${PACKAGE}: as intended")
