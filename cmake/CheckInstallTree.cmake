# Installs the build into a fresh staging prefix and checks that the tree is
# exactly the program, its menu entry, its icon and the README, and that
# they fit together. Run with cmake -P; see cmake/Packaging.cmake.

cmake_minimum_required(VERSION 3.25)

set(failures "")
macro(fail what)
    list(APPEND failures "${what}")
    message("FAIL: ${what}")
endmacro()

# Installed files that are copies of the project's own must stay byte-equal.
macro(expect_same_file installed source name)
    file(SHA256 "${installed}" installed_hash)
    file(SHA256 "${source}" source_hash)
    if(NOT installed_hash STREQUAL source_hash)
        fail("${name} differs from ${source}")
    endif()
endmacro()

file(REMOVE_RECURSE "${STAGING}")
execute_process(
    COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${STAGING}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed:\n${out}")
endif()

if(PLANT_STRAY)
    file(WRITE "${STAGING}/${PLANT_STRAY}" "stray\n")
endif()

set(icon_rel "${DATAROOTDIR}/icons/hicolor/64x64/apps/sockwise.png")
set(desktop_rel "${DATAROOTDIR}/applications/sockwise.desktop")
set(expected_files
    "${BINDIR}/sockwise"
    "${desktop_rel}"
    "${icon_rel}"
    "${DOCDIR}/README.md")

# Directories count too: an empty directory installed by mistake is a fault.
set(expected "${expected_files}")
foreach(f IN LISTS expected_files)
    get_filename_component(d "${f}" DIRECTORY)
    while(d)
        list(APPEND expected "${d}")
        get_filename_component(d "${d}" DIRECTORY)
    endwhile()
endforeach()
list(REMOVE_DUPLICATES expected)
list(SORT expected)

file(GLOB_RECURSE actual LIST_DIRECTORIES true RELATIVE "${STAGING}" "${STAGING}/*")
list(SORT actual)

message("Installed tree under ${STAGING}:")
foreach(p IN LISTS actual)
    message("  ${p}")
endforeach()

foreach(p IN LISTS actual)
    if(NOT p IN_LIST expected)
        fail("unexpected in the install tree: ${p}")
    endif()
endforeach()
foreach(p IN LISTS expected)
    if(NOT p IN_LIST actual)
        fail("missing from the install tree: ${p}")
    endif()
endforeach()

# The program: an ELF file that may be executed.
set(exe "${STAGING}/${BINDIR}/sockwise")
if(EXISTS "${exe}")
    file(READ "${exe}" magic LIMIT 4 HEX)
    if(NOT magic STREQUAL "7f454c46")
        fail("${BINDIR}/sockwise is not an ELF executable")
    endif()
    execute_process(COMMAND test -x "${exe}" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        fail("${BINDIR}/sockwise is not executable")
    endif()
endif()

# The icon: the packaging PNG itself, and really 64x64 as its folder says.
set(icon "${STAGING}/${icon_rel}")
if(EXISTS "${icon}")
    file(READ "${icon}" sig LIMIT 8 HEX)
    file(READ "${icon}" size OFFSET 16 LIMIT 8 HEX)
    if(NOT sig STREQUAL "89504e470d0a1a0a")
        fail("${icon_rel} is not a PNG")
    elseif(NOT size STREQUAL "0000004000000040")
        fail("${icon_rel} is not 64x64 (IHDR size ${size})")
    endif()
    expect_same_file("${icon}" "${SOURCE_DIR}/packaging/sockwise.png" "${icon_rel}")
endif()

# The README: the project's own, unchanged.
set(readme "${STAGING}/${DOCDIR}/README.md")
if(EXISTS "${readme}")
    expect_same_file("${readme}" "${SOURCE_DIR}/README.md" "${DOCDIR}/README.md")
endif()

# The menu entry: the keys a launcher needs, pointing at what was installed.
set(desktop "${STAGING}/${desktop_rel}")
if(EXISTS "${desktop}")
    file(STRINGS "${desktop}" lines)
    list(GET lines 0 first)
    if(NOT first STREQUAL "[Desktop Entry]")
        fail("${desktop_rel} does not start with [Desktop Entry]")
    endif()
    foreach(kv IN ITEMS "Type=Application" "Name=Sockwise" "Exec=sockwise"
                        "Icon=sockwise" "Categories=Development;Network;")
        if(NOT kv IN_LIST lines)
            fail("${desktop_rel} lacks the line ${kv}")
        endif()
    endforeach()
    set(comment_count 0)
    foreach(line IN LISTS lines)
        if(line MATCHES "^Comment=(.*)$")
            math(EXPR comment_count "${comment_count} + 1")
            if(CMAKE_MATCH_1 STREQUAL "")
                fail("${desktop_rel} has an empty Comment")
            endif()
        endif()
    endforeach()
    if(NOT comment_count EQUAL 1)
        fail("${desktop_rel} needs exactly one Comment line, has ${comment_count}")
    endif()
    # Exec and Icon name files of this tree, so the launcher finds both.
    if(NOT "${BINDIR}/sockwise" IN_LIST actual)
        fail("Exec=sockwise but ${BINDIR}/sockwise is not installed")
    endif()
    if(NOT icon_rel IN_LIST actual)
        fail("Icon=sockwise but ${icon_rel} is not installed")
    endif()
endif()

if(failures)
    list(LENGTH failures n)
    message(FATAL_ERROR "${n} install-tree check(s) failed")
endif()
message("Install tree OK")
