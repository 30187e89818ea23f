# The Debian package's changelog, made from CHANGELOG.md:
#   ## 1.0.0.0 (2026-12-08)     ->  module-lumivane (1.0.0.0) unstable; urgency=medium
#   For users:                  ->    [ For users ]
#   - an item                   ->    * an item
#     its next line             ->      its next line
# and each entry closed by its maintainer line dated at noon UTC of the
# entry's day.
#
# lumivane_debian_changelog(<CHANGELOG.md> <package name> <maintainer> <output>
#                           <newest version variable> <newest date variable>)
function(lumivane_debian_changelog markdown package maintainer output version_var date_var)
  file(STRINGS ${markdown} lines ENCODING UTF-8)
  set(text "")
  set(entry "")
  set(newest_version "")
  set(newest_date "")
  macro(close_entry)
    if(entry)
      execute_process(COMMAND date -u -R -d "${entry_date} 12:00:00 UTC"
        OUTPUT_VARIABLE stamp OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
      string(APPEND text "${entry}\n -- ${maintainer}  ${stamp}\n\n")
      set(entry "")
    endif()
  endmacro()
  foreach(line IN LISTS lines)
    string(LENGTH "${line}" length)
    if(entry AND length GREATER 76)
      message(FATAL_ERROR "${markdown}: a line of more than 76 columns (Debian's changelog "
                          "holds at most 80 with its indent): ${line}")
    endif()
    if(line MATCHES "^## ([0-9][0-9.]*) \\(([0-9]+-[0-9]+-[0-9]+)\\)$")
      close_entry()
      set(entry_date ${CMAKE_MATCH_2})
      if(NOT newest_version)
        set(newest_version ${CMAKE_MATCH_1})
        set(newest_date ${CMAKE_MATCH_2})
      endif()
      set(entry "${package} (${CMAKE_MATCH_1}) unstable; urgency=medium\n")
    elseif(NOT entry)
      # The file's own heading and introduction.
    elseif(line MATCHES "^- (.*)$")
      string(APPEND entry "  * ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^  +(.*)$")
      string(APPEND entry "    ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^(.+):$")
      string(APPEND entry "\n  [ ${CMAKE_MATCH_1} ]\n")
    elseif(NOT line STREQUAL "")
      message(FATAL_ERROR "${markdown}: cannot place this line in the Debian changelog: ${line}")
    endif()
  endforeach()
  close_entry()
  if(NOT newest_version)
    message(FATAL_ERROR "${markdown} holds no entry \"## <version> (<yyyy-mm-dd>)\"")
  endif()
  file(WRITE ${output} "${text}")
  set(${version_var} ${newest_version} PARENT_SCOPE)
  set(${date_var} ${newest_date} PARENT_SCOPE)
endfunction()
