# The maker's public key for signed releases, compiled into the program: from a PEM file holding an
# ECDSA P-256 public key (SubjectPublicKeyInfo, as `openssl ec -pubout` writes it), or none at all.
# openssl reads the PEM; the key's DER form is then checked byte for byte, so that nothing but an
# uncompressed P-256 point gets through.

# The DER of a P-256 SubjectPublicKeyInfo up to the point: id-ecPublicKey, prime256v1, a 66-byte BIT
# STRING, and 04 for an uncompressed point. The 64 bytes of X and Y follow.
set(P256_PUBLIC_KEY_DER_PREFIX "3059301306072a8648ce3d020106082a8648ce3d03010703420004")

# Writes OUTPUT_DIR/update_public_key.h for the key in PEM_FILE ("" for a program without a key).
function(lumoradex_update_public_key_header pem_file output_dir)
    set(UPDATE_PUBLIC_KEY_VALUE "std::nullopt")
    if(NOT pem_file STREQUAL "")
        if(NOT EXISTS "${pem_file}")
            message(FATAL_ERROR "UPDATE_PUBLIC_KEY: no such file '${pem_file}'")
        endif()
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${pem_file}")
        find_program(OPENSSL_PROGRAM openssl REQUIRED)
        set(der_file ${output_dir}/update_public_key.der)
        file(MAKE_DIRECTORY ${output_dir})
        execute_process(COMMAND ${OPENSSL_PROGRAM} pkey -pubin -in "${pem_file}" -outform DER -out ${der_file}
                        RESULT_VARIABLE read_result ERROR_VARIABLE read_error)
        set(der "")
        if(read_result EQUAL 0)
            file(READ ${der_file} der HEX)
        endif()
        string(LENGTH "${der}" der_length)
        string(FIND "${der}" "${P256_PUBLIC_KEY_DER_PREFIX}" prefix_at)
        if(NOT der_length EQUAL 182 OR NOT prefix_at EQUAL 0)
            message(FATAL_ERROR "UPDATE_PUBLIC_KEY: '${pem_file}' is not an ECDSA P-256 public key in PEM "
                                "(make one with: openssl ec -in private.pem -pubout -out public.pem) ${read_error}")
        endif()
        string(SUBSTRING "${der}" 54 128 point)
        string(REGEX REPLACE "(..)" "0x\\1," point_bytes "${point}")
        string(REGEX REPLACE ",$" "" point_bytes "${point_bytes}")
        set(UPDATE_PUBLIC_KEY_VALUE "std::array<std::uint8_t, 64>{${point_bytes}}")
    endif()
    configure_file(${CMAKE_SOURCE_DIR}/cmake/update_public_key.h.in ${output_dir}/update_public_key.h @ONLY)
endfunction()
