# The layers and what the code of each folder may include, in one place.
#
# Headers are named from a layer's folder: "workspace/app/names.h". The build gives
# each library an include root in the build tree that holds only the folders of
# the layers it may include, so "shell/Unit3.h" is not found from workspace; the
# test layers/includes (check_layers.cmake) reads every file against the same
# lists and also catches a relative include such as "../shell/Unit3.h".

# A layer may include the layers listed for it, itself last.
set(QUILL_LAYERS platform workspace catalogue install update shell vendorkit support)
set(QUILL_SEES_platform  platform)
set(QUILL_SEES_workspace platform workspace)
set(QUILL_SEES_catalogue platform workspace catalogue)
set(QUILL_SEES_install   platform workspace install)
set(QUILL_SEES_update    platform workspace update)
set(QUILL_SEES_shell     platform workspace catalogue install update shell)
# The vendor's side and the tests' shared fixtures stand on workspace alone.
set(QUILL_SEES_vendorkit platform workspace vendorkit)
set(QUILL_SEES_support   platform workspace vendorkit support)

# Where each layer lives, from the project's root. The tests of a layer live in
# tests/<layer> and see what the layer sees, and the shared fixtures.
set(QUILL_FOLDER_platform  src/platform)
set(QUILL_FOLDER_workspace src/workspace)
set(QUILL_FOLDER_catalogue src/catalogue)
set(QUILL_FOLDER_install   src/install)
set(QUILL_FOLDER_update    src/update)
set(QUILL_FOLDER_shell     src/shell)
set(QUILL_FOLDER_vendorkit tools/vendorkit)
set(QUILL_FOLDER_support   tests/support)

# The system-specific code of a layer sits in these subfolders of its folder
# (and of its tests' folder) and belongs to the layer; the build takes the one
# of the system it builds for.
set(QUILL_SYSTEM_FOLDERS unix windows)
# A layer may keep its files in rooms, one job each; a room stands where its layer stands.
set(QUILL_ROOMS_workspace app change transfer trust)
if(WIN32)
    set(QUILL_SYSTEM windows)
else()
    set(QUILL_SYSTEM unix)
endif()

# Folders of code that are no layer: the programs and tests built on top.
set(QUILL_PROGRAM_FOLDERS tests/e2e tests/crash tools/vendor_site tools/make_catalogue bench bench/shell fuzz)
set(QUILL_SEES_tests/e2e            platform workspace catalogue vendorkit support)
set(QUILL_SEES_tests/crash          platform workspace install update vendorkit support)
set(QUILL_SEES_tools/vendor_site    platform workspace vendorkit)
set(QUILL_SEES_tools/make_catalogue platform workspace vendorkit)
set(QUILL_SEES_bench                platform workspace catalogue install update vendorkit)
set(QUILL_SEES_bench/shell          platform workspace catalogue install update shell)
set(QUILL_SEES_fuzz                 platform workspace catalogue vendorkit)

# Gives `target` the include root `root`: a folder of the build tree with a link
# to each of the folders that follow (from the project's root), under the
# folder's own name. Consumers of the target see the root too.
function(quill_include_links target root)
    file(REMOVE_RECURSE ${root})  # takes the links, never what they point to
    file(MAKE_DIRECTORY ${root})
    foreach(folder IN LISTS ARGN)
        get_filename_component(name ${folder} NAME)
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${name} SYMBOLIC)
    endforeach()
    target_include_directories(${target} PUBLIC ${root})
endfunction()

# Gives `target` the include root of `layer`, which holds the layers it may
# include. A consumer stands higher and sees at least as much.
function(quill_include_root target layer)
    set(folders)
    foreach(seen IN LISTS QUILL_SEES_${layer})
        list(APPEND folders ${QUILL_FOLDER_${seen}})
    endforeach()
    quill_include_links(${target} ${PROJECT_BINARY_DIR}/include/${layer} ${folders})
endfunction()

# A layer's library, its sources listed by the caller.
function(quill_layer layer)
    add_library(quill_${layer} STATIC ${ARGN})
    quill_include_root(quill_${layer} ${layer})
    quill_warnings(quill_${layer})
endfunction()
