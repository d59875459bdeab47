# Lays a program out inside the application bundle of the build tree.
#   qf_bundle_program(TARGET tombrel)           -> Pro Tombrel.app/Contents/MacOS/tombrel
function(qf_bundle_program)
    cmake_parse_arguments(ARG "" "TARGET;SUBDIR" "" ${ARGN})
    set(dir "${QF_BUNDLE_DIR}/Contents/MacOS")
    if(ARG_SUBDIR)
        set(dir "${dir}/${ARG_SUBDIR}")
    endif()
    set_target_properties(${ARG_TARGET} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${dir}")
endfunction()
