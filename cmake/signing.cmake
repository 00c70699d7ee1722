# Test certificates of this build tree, and signing of built executables.
set(TS_CERTS ${CMAKE_BINARY_DIR}/certs)
add_custom_command(OUTPUT ${TS_CERTS}/.done
    COMMAND ${CMAKE_SOURCE_DIR}/tools/make-certs.sh ${TS_CERTS}
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/make-certs.sh)
add_custom_target(test-certificates DEPENDS ${TS_CERTS}/.done)

# ts_sign_executable(target output [cert-stem])
# Signs the target's file into output: with the release certificate when TS_SIGN_PFX
# is set in the environment, else with the test certificate (or the given test leaf).
function(ts_sign_executable target output)
    set(extra)
    if(ARGC GREATER 2)
        set(extra ${TS_CERTS}/${ARGV2}.chain.pem ${TS_CERTS}/${ARGV2}.key)
    endif()
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E env TS_CERTS=${TS_CERTS}
                ${CMAKE_SOURCE_DIR}/tools/sign.sh $<TARGET_FILE:${target}> ${output} ${extra}
        DEPENDS ${target} ${TS_CERTS}/.done ${CMAKE_SOURCE_DIR}/tools/sign.sh)
    get_filename_component(name ${output} NAME_WE)
    add_custom_target(${target}-signed ALL DEPENDS ${output})
endfunction()
