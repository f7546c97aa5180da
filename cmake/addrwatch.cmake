# Helpers for the per-folder source lists.
#
# Every program source is compiled into the object library addrwatch_objects; the product and
# the unit tests link the same objects. A folder adds its portable files with
# addrwatch_sources(...) and its platform files with addrwatch_platform_sources(name ...), which
# picks name_win32.cpp or name_posix.cpp for the target being built.

function(addrwatch_sources)
    foreach(f IN LISTS ARGN)
        target_sources(addrwatch_objects PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${f})
    endforeach()
endfunction()

function(addrwatch_platform_sources)
    foreach(name IN LISTS ARGN)
        target_sources(addrwatch_objects PRIVATE
            ${CMAKE_CURRENT_SOURCE_DIR}/${name}_${ADDRWATCH_PLATFORM}.cpp)
    endforeach()
endfunction()
