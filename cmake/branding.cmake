# What an operator sets at build time: addresses, executable name, channel, skin.
# Every value is baked into the launcher's built-in settings; nothing is read at run time.
set(LAUNCHER_PATCH_BASE_URL "https://cdn.example.com/Setup/live/StandaloneWindows64"
    CACHE STRING "Patch server folder (no trailing slash); the patch information is read from it")
set(LAUNCHER_CDN_ROOT_URL "https://cdn.example.com" CACHE STRING "CDN endpoint without a path")
set(LAUNCHER_HOME_PAGE_URL "https://www.example.com/" CACHE STRING "Opened by the home-page button")
set(LAUNCHER_COMMUNITY_URL "https://community.example.org/qor" CACHE STRING "Opened by the community button")
set(LAUNCHER_WEB_PANEL_URL "https://www.example.com/AfterRegister/index.html" CACHE STRING "Information panel address")
set(LAUNCHER_GAME_EXECUTABLE "Brevanta.exe" CACHE STRING "Game executable started from the launcher's folder")
set(LAUNCHER_CHANNEL_NAME "live" CACHE STRING "Channel word shown in the version label")
set(LAUNCHER_MESSAGES_FILE "" CACHE FILEPATH "Optional UTF-8 file of NAME=text lines replacing built-in messages")
set(LAUNCHER_SKIN_DIR "" CACHE PATH "Folder of skin bitmaps replacing the generated built-in skin")

function(launcher_c_string out value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  string(REPLACE "\n" "\\n" value "${value}")
  set(${out} "\"${value}\"" PARENT_SCOPE)
endfunction()

foreach(name PATCH_BASE_URL CDN_ROOT_URL HOME_PAGE_URL COMMUNITY_URL WEB_PANEL_URL
             GAME_EXECUTABLE CHANNEL_NAME)
  string(LENGTH "${LAUNCHER_${name}}" length)
  if(length GREATER 200)
    message(FATAL_ERROR "LAUNCHER_${name} is ${length} characters; the launcher's settings hold at most 200 here")
  endif()
  launcher_c_string(LAUNCHER_${name}_C "${LAUNCHER_${name}}")
endforeach()
if(LAUNCHER_PATCH_BASE_URL MATCHES "/$")
  message(FATAL_ERROR "LAUNCHER_PATCH_BASE_URL must not end with a slash")
endif()

# An installer or launcher update hands the updater the command line
# "Updater Launcher <process id> <version> <PatchBaseUrl>" in a 256-byte buffer, so 255 bytes
# at most. With the longest process id ("%d" of a Windows process id: 10 digits) and the
# longest version the patch information can name, an address that leaves no room for them
# gives a launcher that could never hand over. (The installer's command line is shorter.)
file(STRINGS "${CMAKE_SOURCE_DIR}/src/update/patch_limits.h" version_limit REGEX "kMaxVersionTextLength = [0-9]+")
string(REGEX MATCH "[0-9]+" version_limit "${version_limit}")
string(LENGTH "Updater Launcher " command_words)
math(EXPR LAUNCHER_MAX_PATCH_BASE_URL "255 - ${command_words} - 10 - 1 - ${version_limit} - 1")
string(LENGTH "${LAUNCHER_PATCH_BASE_URL}" length)
if(length GREATER LAUNCHER_MAX_PATCH_BASE_URL)
  message(FATAL_ERROR "LAUNCHER_PATCH_BASE_URL is ${length} bytes; the updater's command line "
                      "\"Updater Launcher <process id> <version> <address>\" must fit in 255 bytes with a 10-digit "
                      "process id and a ${version_limit}-character version, which leaves at most "
                      "${LAUNCHER_MAX_PATCH_BASE_URL} bytes for the address")
endif()

# Optional message overrides: lines NAME=text, \n written as backslash-n.
set(LAUNCHER_MESSAGE_OVERRIDES "")
if(LAUNCHER_MESSAGES_FILE)
  file(STRINGS "${LAUNCHER_MESSAGES_FILE}" lines ENCODING UTF-8)
  foreach(line IN LISTS lines)
    if(line MATCHES "^([A-Za-z0-9]+)=(.*)$")
      set(key "${CMAKE_MATCH_1}")
      set(text "${CMAKE_MATCH_2}")
      # The ready message is a printf format given the version: exactly one number conversion.
      if(key STREQUAL "MsgReady" AND NOT text MATCHES "^[^%]*%[ +0-9-]*d[^%]*$")
        message(FATAL_ERROR "MsgReady in ${LAUNCHER_MESSAGES_FILE} must hold exactly one %d (or % d) for the version")
      endif()
      string(REPLACE "\\" "\\\\" text "${text}")
      string(REPLACE "\\\\n" "\\n" text "${text}")
      string(REPLACE "\"" "\\\"" text "${text}")
      string(APPEND LAUNCHER_MESSAGE_OVERRIDES "#define LAUNCHER_TEXT_${key} \"${text}\"\n")
    endif()
  endforeach()
endif()

# The content mode's speed limit until the player picks one from the window's menu: whole MB/s
# (1 to 999), OFF or 0 for none.
set(LAUNCHER_CONTENT_RATE_LIMIT "OFF" CACHE STRING "Content mode: default download limit in MB/s (OFF: none)")
if(LAUNCHER_CONTENT_RATE_LIMIT MATCHES "^(OFF|off|0|)$")
  set(LAUNCHER_CONTENT_RATE_LIMIT_VALUE 0)
elseif(LAUNCHER_CONTENT_RATE_LIMIT MATCHES "^[1-9][0-9]?[0-9]?$")
  set(LAUNCHER_CONTENT_RATE_LIMIT_VALUE ${LAUNCHER_CONTENT_RATE_LIMIT})
else()
  message(FATAL_ERROR "LAUNCHER_CONTENT_RATE_LIMIT is '${LAUNCHER_CONTENT_RATE_LIMIT}': whole MB/s from 1 to 999, or OFF")
endif()

# The content mode's release channel until the player picks another with --channel: the
# patch base's own patch information for live, channels/NAME/ below it for any other.
set(LAUNCHER_CONTENT_CHANNEL "live" CACHE STRING "Content mode: the release channel followed by default")
string(LENGTH "${LAUNCHER_CONTENT_CHANNEL}" length)
if(NOT LAUNCHER_CONTENT_CHANNEL MATCHES "^[a-z0-9-]+$" OR length GREATER 32)
  message(FATAL_ERROR "LAUNCHER_CONTENT_CHANNEL is '${LAUNCHER_CONTENT_CHANNEL}': 1 to 32 of a-z, 0-9 and -")
endif()
launcher_c_string(LAUNCHER_CONTENT_CHANNEL_C "${LAUNCHER_CONTENT_CHANNEL}")

configure_file("${CMAKE_SOURCE_DIR}/src/settings/build_settings.h.in"
               "${CMAKE_BINARY_DIR}/generated/build_settings.h" @ONLY)
