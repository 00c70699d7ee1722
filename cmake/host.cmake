# What a build for the (Linux) build host takes from the host: mbed TLS (libmbedtls-dev),
# and the LZMA SDK's decoder compiled from the source the bootstrap built it from for
# Windows (TS_LZMA_SOURCE, the SDK's C folder), so both builds decode alike.
find_library(TS_MBEDCRYPTO mbedcrypto REQUIRED)
add_library(mbedcrypto UNKNOWN IMPORTED)
set_target_properties(mbedcrypto PROPERTIES IMPORTED_LOCATION ${TS_MBEDCRYPTO})

set(TS_LZMA_SOURCE "" CACHE PATH "The LZMA SDK's C folder")
if(NOT IS_DIRECTORY "${TS_LZMA_SOURCE}")
    message(FATAL_ERROR "TS_LZMA_SOURCE names no folder: configure with -DTS_LZMA_SOURCE=<7-Zip source>/C")
endif()
set(lzma)
foreach(name 7zAlloc 7zArcIn 7zBuf 7zCrc 7zCrcOpt 7zDec 7zFile 7zStream Bcj2 Bra Bra86 BraIA64 CpuArch Delta
             Lzma2Dec LzmaDec)
    list(APPEND lzma ${TS_LZMA_SOURCE}/${name}.c)
endforeach()
add_library(lzma7z STATIC ${lzma})
target_include_directories(lzma7z SYSTEM PUBLIC ${TS_LZMA_SOURCE})
# The SDK's own code, not ours to warn about.
target_compile_options(lzma7z PRIVATE -w)
