# The include check over small trees: run as
#   cmake -DCHECK=<cmake/check_layers.cmake> -DSCRATCH=<folder> -P check_layers_test.cmake
# A lower layer that includes a higher one, or a sibling, must fail it, however
# the include is spelt.

# Lays out a tree of the given files ("path|text" each), runs the check on it and
# compares the outcome: "passes", or a text the failure must show.
function(expect_check name outcome)
    set(root ${SCRATCH}/${name})
    file(REMOVE_RECURSE ${root})
    foreach(entry IN LISTS ARGN)
        string(FIND "${entry}" "|" bar)
        string(SUBSTRING "${entry}" 0 ${bar} path)
        math(EXPR start "${bar} + 1")
        string(SUBSTRING "${entry}" ${start} -1 text)
        file(WRITE ${root}/${path} "${text}\n")
    endforeach()
    execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${root} -P ${CHECK}
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(outcome STREQUAL "passes")
        if(NOT result EQUAL 0)
            message(SEND_ERROR "${name}: refused a sound tree:\n${output}")
        endif()
    elseif(result EQUAL 0)
        message(SEND_ERROR "${name}: passed, expected \"${outcome}\":\n${output}")
    else()
        string(FIND "${output}" "${outcome}" at)
        if(at LESS 0)
            message(SEND_ERROR "${name}: failed without \"${outcome}\":\n${output}")
        endif()
    endif()
endfunction()

set(sound
    "src/platform/files.h|#pragma once"
    "src/workspace/names.cpp|#include \"workspace/names.h\"\n#include \"platform/files.h\"\n#include <string>"
    "src/workspace/names.h|#include <curl/curl.h>"
    "src/shell/Unit3.h|#include \"catalogue/catalogue.h\"\n#include \"update/program_update.h\""
    "src/shell/Unit3.cpp|#include \"shell/Unit3.h\"\n#include \"ui_Unit3.h\"\n#include \"_tempinst.h\""
    "tests/workspace/names_test.cpp|#include \"support/temp_folder.h\"\n#include \"vendorkit/zip_writer.h\""
    "tests/install/template_site.h|#include \"install/template_download.h\""
    "tests/install/download_test.cpp|#include \"template_site.h\""
    "fuzz/names_fuzz.cpp|#include \"../src/workspace/names.cpp\"")
expect_check(sound passes ${sound})

expect_check(workspace_includes_the_windows
    "src/workspace/names.cpp: includes \"shell/Unit3.h\" of layer shell, which src/workspace may not include"
    ${sound} "src/workspace/names.cpp|#include \"workspace/names.h\"\n  #  include \"shell/Unit3.h\"")
expect_check(workspace_includes_the_windows_by_a_relative_path
    "src/workspace/names.cpp: includes \"../shell/Unit3.h\" of layer shell"
    ${sound} "src/workspace/names.cpp|#include \"../shell/Unit3.h\"")
expect_check(platform_includes_workspace_in_angle_brackets
    "src/platform/files.h: includes \"workspace/names.h\" of layer workspace"
    ${sound} "src/platform/files.h|#include <workspace/names.h>")
expect_check(catalogue_includes_its_sibling
    "src/catalogue/catalogue.cpp: includes \"install/template_download.h\" of layer install"
    ${sound} "src/catalogue/catalogue.cpp|#include \"install/template_download.h\"")
expect_check(workspace_tests_include_catalogue_fixtures
    "tests/workspace/names_test.cpp: includes \"catalogue/catalogue_site.h\" of layer catalogue"
    ${sound} "tests/workspace/names_test.cpp|#include \"catalogue/catalogue_site.h\"")
expect_check(vendorkit_includes_catalogue
    "tools/vendorkit/zip_writer.cpp: includes \"catalogue/firebird_connection.h\" of layer catalogue"
    ${sound} "tools/vendorkit/zip_writer.cpp|#include \"catalogue/firebird_connection.h\"")
expect_check(a_folder_without_a_rule
    "src/extra/x.cpp: its folder src/extra has no place"
    ${sound} "src/extra/x.cpp|#include \"platform/files.h\"")
expect_check(a_relative_include_outside_every_layer
    "src/workspace/names.cpp: includes \"../../bench/bench_support.h\", outside every layer"
    ${sound} "bench/bench_support.h|#pragma once"
    "src/workspace/names.cpp|#include \"../../bench/bench_support.h\"")

# A system's own code stands where its layer stands, and no higher.
set(systems ${sound}
    "src/platform/windows/files.cpp|#include \"platform/files.h\"\n#include \"../codepage.h\"\n#include <windows.h>"
    "src/platform/unix/files.cpp|#include \"platform/files.h\"\n#include <unistd.h>"
    "tests/platform/windows/signals_test.cpp|#include \"platform/termination_signals.h\"\n#include \"support/temp_folder.h\""
    "tests/support/windows/temp_folder.cpp|#include \"support/temp_folder.h\"\n#include \"platform/files.h\"")
expect_check(system_folders passes ${systems})
expect_check(windows_platform_includes_workspace
    "src/platform/windows/files.cpp: includes \"workspace/names.h\" of layer workspace, which src/platform/windows may not include"
    ${systems} "src/platform/windows/files.cpp|#include \"workspace/names.h\"")
expect_check(unix_platform_includes_workspace_by_a_relative_path
    "src/platform/unix/files.cpp: includes \"../../workspace/names.h\" of layer workspace"
    ${systems} "src/platform/unix/files.cpp|#include \"../../workspace/names.h\"")
expect_check(a_system_folder_without_a_rule
    "src/platform/linux/files.cpp: its folder src/platform/linux has no place"
    ${systems} "src/platform/linux/files.cpp|#include \"platform/files.h\"")
