# The product's signing on the build machine (scripts/sign.sh over openssl).
# The test product keys are made once per build tree, in its signing folder;
# their private halves never leave it. The module carries the public halves
# as its "QSIG_KEY" resources (qsig_keys.rc, generated here).
set(QVR_SIGNING_DIR ${CMAKE_BINARY_DIR}/signing)
set(QVR_SIGN_TOOL ${CMAKE_SOURCE_DIR}/scripts/sign.sh)
execute_process(COMMAND bash ${QVR_SIGN_TOOL} keys ${QVR_SIGNING_DIR} RESULT_VARIABLE qvr_keys_result)
if(NOT qvr_keys_result EQUAL 0)
  message(FATAL_ERROR "scripts/sign.sh could not make the signing keys in ${QVR_SIGNING_DIR}")
endif()
configure_file(${CMAKE_SOURCE_DIR}/signcheck_lib/qsig_keys.rc.in ${QVR_SIGNING_DIR}/qsig_keys.rc @ONLY)
set(QVR_KEY_RESOURCES ${QVR_SIGNING_DIR}/qsig_keys.rc)

# Signs the library `target` builds into bin/ with the product's PXS
# signature; the unsigned build stays in unsigned/.
function(qvr_sign_library target)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/unsigned)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND bash ${QVR_SIGN_TOOL} pxs ${QVR_SIGNING_DIR}/pxs_product.key.pem ${QVR_SIGNING_DIR}/pxs_product.pem
            $<TARGET_FILE:${target}> ${CMAKE_BINARY_DIR}/bin/$<TARGET_FILE_NAME:${target}>
    COMMENT "Signing $<TARGET_FILE_NAME:${target}>")
endfunction()
