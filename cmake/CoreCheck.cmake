# qlumar_core must stay usable without a display. Two guards fail the build when it is not:
#  - at configure time (deferred to the end, after every directory had its say), no target that
#    qlumar_core links, directly or through another target, may be Qt6::Gui or Qt6::Widgets;
#  - qlumar_core_check links every object of the core against Core, Network, D-Bus and its non-Qt
#    libraries alone and includes every core header, so a widget or picture symbol or header
#    creeping in breaks it.

function(qlumar_forbid_gui_links target)
    set(pending ${target})
    set(seen)
    while(pending)
        list(POP_FRONT pending current)
        if(current IN_LIST seen OR NOT TARGET ${current})
            continue()
        endif()
        list(APPEND seen ${current})
        get_target_property(aliased ${current} ALIASED_TARGET)
        if(aliased)
            list(APPEND pending ${aliased})
            continue()
        endif()
        set(links)
        foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
            get_target_property(value ${current} ${property})
            if(value)
                list(APPEND links ${value})
            endif()
        endforeach()
        foreach(link ${links})
            # $<LINK_ONLY:X> and similar wrappers still name X.
            string(REGEX REPLACE "^\\$<[A-Z_]+:(.*)>$" "\\1" link "${link}")
            if(link MATCHES "^Qt[0-9]*::(Gui|Widgets|GuiPrivate|WidgetsPrivate)$")
                message(FATAL_ERROR "qlumar_core must not link ${link} (reached through ${current}); "
                    "move the code that needs it to qlumar_gui")
            endif()
            list(APPEND pending ${link})
        endforeach()
    endwhile()
endfunction()

cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL qlumar_forbid_gui_links qlumar_core)

set(QLUMAR_CORE_CHECK_MAIN ${CMAKE_CURRENT_BINARY_DIR}/qlumar_core_check.cpp)
set(QLUMAR_CORE_CHECK_TEXT "// Generated: every header of qlumar_core, built without the GUI modules.\n")
foreach(source ${QLUMAR_CORE_SOURCES})
    if(source MATCHES "\\.h$")
        string(APPEND QLUMAR_CORE_CHECK_TEXT "#include \"${source}\"\n")
    endif()
endforeach()
string(APPEND QLUMAR_CORE_CHECK_TEXT "int main() { return 0; }\n")
file(CONFIGURE OUTPUT ${QLUMAR_CORE_CHECK_MAIN} CONTENT "${QLUMAR_CORE_CHECK_TEXT}")

add_executable(qlumar_core_check ${QLUMAR_CORE_CHECK_MAIN} $<TARGET_OBJECTS:qlumar_core>)
target_include_directories(qlumar_core_check PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
# The core's own non-Qt dependencies, whatever they are, but no GUI module.
target_link_libraries(qlumar_core_check PRIVATE Qt6::Core Qt6::Network Qt6::DBus ${QLUMAR_CRYPTO_LIBS}
    Qt6Keychain::Qt6Keychain)
set_target_properties(qlumar_core_check PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
qlumar_warnings(qlumar_core_check)
