# jack_relocatable_object(<name> <object-library>...)
#
# Links the objects of the given OBJECT libraries into one relocatable object
# build/lib/<name>.o with `ld -r`, for other programs of the tool-chain to link
# as they are, and installs it under the library directory.
function(jack_relocatable_object name)
    set(output ${JACK_LIB_DIR}/${name}.o)
    set(objects)
    foreach(library IN LISTS ARGN)
        list(APPEND objects $<TARGET_OBJECTS:${library}>)
    endforeach()
    add_custom_command(
        OUTPUT ${output}
        COMMAND ${CMAKE_LINKER} -r -o ${output} ${objects}
        DEPENDS ${ARGN} ${objects}
        COMMAND_EXPAND_LISTS VERBATIM
        COMMENT "Linking relocatable object lib/${name}.o")
    add_custom_target(${name}_relocatable ALL DEPENDS ${output})
    install(FILES ${output} DESTINATION ${CMAKE_INSTALL_LIBDIR})
endfunction()
