# Fails when a file includes a layer that cmake/layers.cmake does not let its
# folder include, naming every such include:
#   cmake -DROOT=<project root> -P check_layers.cmake
# An include is of the layer that holds the file it reaches: the file's own
# folder first, for a quoted include, as the compiler looks; otherwise the first
# part of its path ("shell/Unit3.h" is of shell). Includes of anything else
# (Qt, libcurl, generated headers) are no concern here.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/layers.cmake)

if(NOT ROOT)
    message(FATAL_ERROR "Give the project's root: -DROOT=<folder>")
endif()
file(REAL_PATH ${ROOT} ROOT)

# Each folder of code, what its files may include, and the layer its own files
# belong to; a layer's tests and their fixtures stand with the layer.
set(folders)
foreach(layer IN LISTS QUILL_LAYERS)
    set(folder ${QUILL_FOLDER_${layer}})
    list(APPEND folders ${folder})
    set(sees_${folder} ${QUILL_SEES_${layer}})
    set(layer_of_${folder} ${layer})
    if(folder MATCHES "^src/")
        list(APPEND folders tests/${layer})
        set(sees_tests/${layer} ${QUILL_SEES_${layer}} ${QUILL_SEES_support})
        set(layer_of_tests/${layer} ${layer})
    endif()
endforeach()
foreach(folder IN LISTS QUILL_PROGRAM_FOLDERS)
    list(APPEND folders ${folder})
    set(sees_${folder} ${QUILL_SEES_${folder}})
endforeach()

file(GLOB_RECURSE files RELATIVE ${ROOT}
    ${ROOT}/src/*.h ${ROOT}/src/*.cpp ${ROOT}/tests/*.h ${ROOT}/tests/*.cpp
    ${ROOT}/tools/*.h ${ROOT}/tools/*.cpp ${ROOT}/bench/*.h ${ROOT}/bench/*.cpp
    ${ROOT}/fuzz/*.h ${ROOT}/fuzz/*.cpp)
list(SORT files)

set(faults)
foreach(file IN LISTS files)
    get_filename_component(dir ${file} DIRECTORY)
    if(NOT dir IN_LIST folders)
        list(APPEND faults "${file}: its folder ${dir} has no place in cmake/layers.cmake")
        continue()
    endif()
    file(STRINGS ${ROOT}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line IN LISTS includes)
        if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]+)[>\"]")
            continue()
        endif()
        set(quoted ${CMAKE_MATCH_1})
        set(path ${CMAKE_MATCH_2})
        set(layer "")
        if(quoted STREQUAL "\"" AND EXISTS ${ROOT}/${dir}/${path})
            file(REAL_PATH ${ROOT}/${dir}/${path} reached)
            file(RELATIVE_PATH reached ${ROOT} ${reached})
            get_filename_component(reachedDir ${reached} DIRECTORY)
            if(reachedDir STREQUAL dir)
                continue()
            elseif(DEFINED layer_of_${reachedDir})
                set(layer ${layer_of_${reachedDir}})
            else()
                list(APPEND faults "${file}: includes \"${path}\", outside every layer")
                continue()
            endif()
        elseif(path MATCHES "^([^/]+)/")
            set(layer ${CMAKE_MATCH_1})
            if(NOT layer IN_LIST QUILL_LAYERS)
                continue()
            endif()
        else()
            continue()
        endif()
        if(NOT layer IN_LIST sees_${dir})
            list(APPEND faults "${file}: includes \"${path}\" of layer ${layer}, which ${dir} may not include")
        endif()
    endforeach()
endforeach()

if(faults)
    list(JOIN faults "\n  " text)
    message(FATAL_ERROR "Includes across the layers:\n  ${text}")
endif()
list(LENGTH files count)
message(STATUS "${count} files include only the layers they may")
