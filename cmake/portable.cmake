# The portable files: plain C++ that builds for Windows and for the build host, where the
# host's log reader and bundler, the host tests' programs and the fuzz targets link it.
# One path a line, from the source root: tools/check-layering.sh reads these lines too and
# refuses a Windows header in any of these files or in a project header they include.
set(TS_PORTABLE_SYS_SOURCES
    sys/libutils/assertion.cpp
    sys/libutils/datefields.cpp
    sys/libutils/exception.cpp
    sys/libutils/logcipher.cpp
    sys/libutils/logreader.cpp
    sys/libutils/option.cpp
    sys/libutils/osnames.cpp
    sys/libutils/runlogline.cpp
    sys/libutils/text.cpp
    sys/libutils/version.cpp
)
set(TS_PORTABLE_TK_SOURCES
    tk/libcleaner/inftext.cpp
)
set(TS_PORTABLE_APP_SOURCES
    app/setup/blockstream.cpp
    app/setup/driverlayout.cpp
    app/setup/extendedproperties.cpp
)

# The bundler's files besides its main.cpp: one program for a Windows build machine and
# for the host, so these are not plain code (tools/bundle/process.cpp has both).
set(TS_BUNDLER_SOURCES
    tools/bundle/digest.cpp
    tools/bundle/payloadmemory.cpp
    tools/bundle/peimage.cpp
    tools/bundle/process.cpp
    tools/bundle/productfolder.cpp
    tools/bundle/signer.cpp
    tools/bundle/signing.cpp
)

# ts_portable_libraries(<source root>): the portable part of each level, linking only the
# levels below it as the Windows libraries do: tsportable-sys, tsportable-tk, tsportable-app,
# and tsportable, all three. The caller defines the targets mbedcrypto (mbed TLS) and
# lzma7z (the LZMA SDK's decoder).
function(ts_portable_libraries root)
    foreach(level sys tk app)
        string(TOUPPER ${level} upper)
        list(TRANSFORM TS_PORTABLE_${upper}_SOURCES PREPEND ${root}/ OUTPUT_VARIABLE sources)
        add_library(tsportable-${level} STATIC ${sources})
    endforeach()
    target_include_directories(tsportable-sys PUBLIC ${root})
    target_link_libraries(tsportable-sys PUBLIC mbedcrypto)
    target_link_libraries(tsportable-tk PUBLIC tsportable-sys)
    target_link_libraries(tsportable-app PUBLIC tsportable-sys lzma7z)
    add_library(tsportable INTERFACE)
    target_link_libraries(tsportable INTERFACE tsportable-app tsportable-tk)
endfunction()

# ts_remove_portable(<list variable> <source root>): the list without the portable files.
function(ts_remove_portable variable root)
    set(portable ${TS_PORTABLE_SYS_SOURCES} ${TS_PORTABLE_TK_SOURCES} ${TS_PORTABLE_APP_SOURCES})
    list(TRANSFORM portable PREPEND ${root}/)
    set(sources ${${variable}})
    list(REMOVE_ITEM sources ${portable})
    set(${variable} ${sources} PARENT_SCOPE)
endfunction()
