# jack_program(<name> <source>...)
#
# Makes a program of the tool-chain: the executable, linked with the --help
# and --version answers of cli/, installed with its manual page <name>.1 from
# the same folder into share/man/man1. Every program made so is on the global
# list JACK_PROGRAMS, over which the tests check the manual pages and the two
# options, and the package check finds every installed program on it.
function(jack_program name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE standard_options)
    # The programs run in pipelines, often on small inputs, where loading
    # the C++ run-time library was a third of a run: linked in, a run on a
    # tiny tree takes 1.0 ms instead of 1.5 ms. The sanitizers bring run-time
    # libraries of their own and are left as they are.
    if(NOT JACK_SANITIZE AND NOT JACK_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_link_options(${name} PRIVATE -static-libstdc++ -static-libgcc)
    endif()
    install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/${name}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    set_property(GLOBAL APPEND PROPERTY JACK_PROGRAMS ${name})
    set_property(GLOBAL APPEND PROPERTY JACK_MAN_PAGES ${CMAKE_CURRENT_SOURCE_DIR}/${name}.1)
endfunction()
