# Manual pages, one per program, in <build>/man and installed to
# share/man/man1. The velmora-* pages are made from each program's own
# --help and --version by help2man, so they never drift from the program;
# Drovik, which answers neither, has a written page (docs/man/Drovik.1).
# Left out, with a message, without help2man or when cross-compiling.
include(GNUInstallDirs)

set(velmora_man_dir ${PROJECT_BINARY_DIR}/man)
set(velmora_man_pages)
if(TARGET Drovik)
  list(APPEND velmora_man_pages ${PROJECT_SOURCE_DIR}/docs/man/Drovik.1)
endif()

find_program(VELMORA_HELP2MAN help2man)
if(CMAKE_CROSSCOMPILING)
  message(STATUS "Manual pages: left out when cross-compiling")
elseif(NOT VELMORA_HELP2MAN)
  message(STATUS "Manual pages of the velmora-* programs: left out; install the Debian package help2man")
else()
  # The NAME line of each page: what the program does, in a few words.
  set(velmora_program_summaries
    "velmora-trace|replay one recording and print the fall detector's trace line for every sample"
    "velmora-eval|evaluate the fall detector over folders of recordings"
    "velmora-plot|draw one replay of the fall detector as an SVG or PNG figure"
    "velmora-import|convert SisFall, UMAFall or any sensor log into recordings"
    "velmora-synth|generate synthetic recordings"
    "velmora-tune|sweep, search, compare and explain fall detector settings over recordings"
    "velmora-live|run the fall detector on a live sensor stream and report alarms at once")
  foreach(entry IN LISTS velmora_program_summaries)
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 program)
    list(GET entry 1 summary)
    if(NOT TARGET ${program})
      continue()
    endif()
    set(page ${velmora_man_dir}/${program}.1)
    add_custom_command(
      OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${velmora_man_dir}
      COMMAND ${VELMORA_HELP2MAN} --no-info --no-discard-stderr --section=1
              --source=Velmora "--name=${summary}" --output=${page} $<TARGET_FILE:${program}>
      DEPENDS ${program}
      COMMENT "Manual page ${program}.1"
      VERBATIM)
    list(APPEND velmora_man_pages ${page})
  endforeach()
endif()

add_custom_target(man_pages ALL DEPENDS ${velmora_man_pages})
if(velmora_man_pages)
  install(FILES ${velmora_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
endif()

# Every page renders without a warning.
find_program(VELMORA_GROFF groff)
if(VELMORA_BUILD_TESTS AND VELMORA_GROFF AND velmora_man_pages)
  add_test(NAME ManPages.RenderWithoutWarnings
           COMMAND ${CMAKE_COMMAND} -DGROFF=${VELMORA_GROFF} "-DPAGES=${velmora_man_pages}"
                   -P ${CMAKE_CURRENT_LIST_DIR}/CheckManPages.cmake)
endif()
