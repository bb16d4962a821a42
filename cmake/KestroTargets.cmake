# Shared settings for every target of the project, applied per target so that no
# global flag leaks into a library that does not want it.
function(kestro_target_settings target)
    target_compile_features(${target} PUBLIC cxx_std_20)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-missing-field-initializers
        -fstack-protector-strong)
    target_compile_definitions(${target} PRIVATE QT_NO_KEYWORDS_FIX
        $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
endfunction()

# add_kestro_library(name SOURCES ... LIBS ... [PRIVATE_LIBS ...]): one library target per
# folder. LIBS are what its headers need and pass on to callers; PRIVATE_LIBS only its
# sources use.
function(add_kestro_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PRIVATE_LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    kestro_target_settings(${name})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
    if(ARG_PRIVATE_LIBS)
        target_link_libraries(${name} PRIVATE ${ARG_PRIVATE_LIBS})
    endif()
    set_target_properties(${name} PROPERTIES AUTOMOC ON POSITION_INDEPENDENT_CODE ON)
endfunction()

# add_unit_test(name SOURCES ... LIBS ... [GUI] [TIMEOUT s]): a GoogleTest executable run
# by ctest on the offscreen Qt platform, so window tests need no display. GUI gives it a
# QApplication; otherwise it runs under a QCoreApplication.
function(add_unit_test name)
    cmake_parse_arguments(ARG "GUI" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    kestro_target_settings(${name})
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    if(ARG_GUI)
        target_link_libraries(${name} PRIVATE ${ARG_LIBS} kestro_testmain_gui)
    else()
        target_link_libraries(${name} PRIVATE ${ARG_LIBS} kestro_testmain)
    endif()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KESTRO_SOURCE_DIR=${PROJECT_SOURCE_DIR};KESTRO_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()
