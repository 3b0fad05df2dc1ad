# The Windows build (mingw-w64 cross compilers, see cmake/toolchain-mingw-*.cmake):
# the same core over the platform's own services. What Debian ships only for
# Linux is compiled here from Debian's source packages, which
# scripts/install-deps unpacks into the cache below; nothing third-party is
# committed.

set(KVT_DEB_SOURCES ${PROJECT_SOURCE_DIR}/.cache/deb-src CACHE PATH
    "Folder with the unpacked Debian source packages (scripts/install-deps)")

# No Qt for Windows: the Win32 windows replace it.
set(KVT_WITH_QT OFF CACHE BOOL "" FORCE)

# Wide Win32 functions throughout; Windows 7 is the oldest system served.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
    _WIN32_WINNT=0x0601 WINVER=0x0601)
# The runtime (libgcc, libstdc++, winpthread) goes into each binary, so an
# office installs nothing from mingw.
add_link_options(-static -static-libgcc -static-libstdc++)

# The unpacked source of a Debian package: the one folder NAME-VERSION in the cache.
function(kvt_debian_source out name)
    file(GLOB found LIST_DIRECTORIES true ${KVT_DEB_SOURCES}/${name}-[0-9]*)
    list(FILTER found EXCLUDE REGEX "\\.(dsc|tar\\..*)$")
    list(LENGTH found count)
    if(NOT count EQUAL 1)
        message(FATAL_ERROR "The source of ${name} is missing from ${KVT_DEB_SOURCES} "
                            "(found: '${found}'); run scripts/install-deps")
    endif()
    set(${out} ${found} PARENT_SCOPE)
endfunction()

# pugixml, the version Linux links, as a static library: the upload files are
# written by the same code on both platforms, byte for byte.
kvt_debian_source(KVT_PUGIXML_DIR pugixml)
add_library(pugixml STATIC ${KVT_PUGIXML_DIR}/src/pugixml.cpp)
target_include_directories(pugixml SYSTEM PUBLIC ${KVT_PUGIXML_DIR}/src)
target_compile_options(pugixml PRIVATE -w)
add_library(pugixml::pugixml ALIAS pugixml)

# SQLite, the version Linux links, for the host stand-in. Debian's source
# tree has no single-file form: SQLite's own build makes sqlite3.c from it,
# with the build machine's C compiler and tclsh.
kvt_debian_source(KVT_SQLITE_DIR sqlite3)
find_program(KVT_TCLSH NAMES tclsh tclsh8.6 REQUIRED)
find_program(KVT_MAKE NAMES make gmake REQUIRED)
set(KVT_SQLITE_GEN ${CMAKE_BINARY_DIR}/sqlite3-amalgamation)
file(MAKE_DIRECTORY ${KVT_SQLITE_GEN})
add_custom_command(OUTPUT ${KVT_SQLITE_GEN}/sqlite3.c ${KVT_SQLITE_GEN}/sqlite3.h
    COMMAND ${CMAKE_COMMAND} -E env CC=cc CFLAGS= TCLSH_CMD=${KVT_TCLSH}
            ${KVT_SQLITE_DIR}/configure --quiet --disable-tcl --disable-readline
    COMMAND ${KVT_MAKE} --silent sqlite3.c sqlite3.h
    WORKING_DIRECTORY ${KVT_SQLITE_GEN}
    COMMENT "Generating sqlite3.c from ${KVT_SQLITE_DIR}"
    VERBATIM)
add_library(sqlite3 STATIC ${KVT_SQLITE_GEN}/sqlite3.c)
target_include_directories(sqlite3 SYSTEM PUBLIC ${KVT_SQLITE_GEN})
# A few of the options Debian builds its library with: the SQL the stand-in
# runs means the same on both platforms.
target_compile_definitions(sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_USE_URI=1
    SQLITE_SECURE_DELETE SQLITE_LIKE_DOESNT_MATCH_BLOBS SQLITE_OMIT_LOAD_EXTENSION)
target_compile_options(sqlite3 PRIVATE -w)
add_library(SQLite::SQLite3 ALIAS sqlite3)

# Tests run under Wine (scripts/wine-exec): a prefix of this build's own and
# the build's bin/ on the DLL search path.
set(KVT_WINE_EXEC ${PROJECT_SOURCE_DIR}/scripts/wine-exec)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KVT_WINE_EXEC} ${CMAKE_BINARY_DIR})

# An import library from a module-definition file: how the program links a
# DLL by name (LKlib.dll) without that DLL's own build. The library is
# delay-loaded, so that a missing DLL is the program's own message rather
# than the loader's dialog.
function(kvt_import_library target dll def)
    set(lib ${CMAKE_CURRENT_BINARY_DIR}/lib${target}.a)
    set(kill_at)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        # WINAPI names carry @N in the import library but not in the DLL.
        set(kill_at --kill-at)
    endif()
    add_custom_command(OUTPUT ${lib}
        COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --dllname ${dll} ${kill_at}
                --output-delaylib ${lib}
        DEPENDS ${def}
        COMMENT "Import library for ${dll}")
    add_custom_target(${target}_implib DEPENDS ${lib})
    add_library(${target} INTERFACE)
    add_dependencies(${target} ${target}_implib)
    target_link_libraries(${target} INTERFACE ${lib} delayimp)
endfunction()

# kvt_winapi_def(out def): a module-definition file whose names carry the
# 32-bit WINAPI decoration (name@N, what a 32-bit import library needs), as
# this build needs it: as it is on 32-bit x86, without the decoration on
# 64-bit, where WINAPI has none. Ordinals (" @1") are kept.
function(kvt_winapi_def out def)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(${out} ${def} PARENT_SCOPE)
        return()
    endif()
    get_filename_component(name ${def} NAME)
    file(READ ${def} text)
    string(REGEX REPLACE "([A-Za-z_][A-Za-z0-9_]*)@[0-9]+" "\\1" text "${text}")
    set(plain ${CMAKE_CURRENT_BINARY_DIR}/${name})
    file(CONFIGURE OUTPUT ${plain} CONTENT "${text}" @ONLY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
    set(${out} ${plain} PARENT_SCOPE)
endfunction()
