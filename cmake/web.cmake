# The web build: the runtime compiled by emscripten into WebAssembly, for the browser
# (orvo-web, which orvo-pack --web ships) and for node (orvo-headless, which runs the
# benchmarks and the tests' scripts). Nothing is fetched while building: the libraries
# that are native only are replaced, folder by folder, by the sources in the folder's
# web/ subfolder, which keep the native headers' interfaces (pictures and fonts through
# Debian's stb headers, the game archive through stb's inflate). velda, orvo-pack and the
# native orvo-headless the tests compare against come from the native build named by
# ORVO_NATIVE_BUILD.
set(ORVO_NATIVE_BUILD "" CACHE PATH "A native build of the project (velda, orvo-pack, orvo-headless)")
if(NOT EXISTS "${ORVO_NATIVE_BUILD}/asm/velda")
  message(FATAL_ERROR "the web build needs a native build with velda: -DORVO_NATIVE_BUILD=DIR")
endif()

# emscripten runs its JavaScript optimizer under node, which finds Debian's acorn only in
# Debian's module folder.
set(web_env ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
set(CMAKE_C_COMPILER_LAUNCHER ${web_env})
set(CMAKE_CXX_COMPILER_LAUNCHER ${web_env})
set(CMAKE_C_LINKER_LAUNCHER ${web_env})
set(CMAKE_CXX_LINKER_LAUNCHER ${web_env})
# node 18 and later have fetch, which this emscripten's loader then takes for the wasm
# file on disk: under node the wasm file is read as a file.
set(ORVO_NODE node --no-experimental-fetch CACHE STRING "node, as the web build's programs run under it")

# The header-only libraries, each from a folder of its own so that no other header of the
# native system is seen by the cross compiler.
set(web_headers ${PROJECT_BINARY_DIR}/web-headers)
file(MAKE_DIRECTORY ${web_headers})
foreach(link nlohmann fluidsynth fluidsynth.h stb)
  if(NOT EXISTS ${web_headers}/${link})
    file(CREATE_LINK /usr/include/${link} ${web_headers}/${link} SYMBOLIC)
  endif()
endforeach()
if(NOT EXISTS /usr/include/stb/stb_truetype.h)
  message(FATAL_ERROR "the web build needs Debian's libstb-dev")
endif()
include_directories(SYSTEM ${web_headers} ${web_headers}/stb)
# As g++ does natively: the GNU and POSIX extensions of the C library are declared.
add_compile_definitions(_GNU_SOURCE)
add_compile_options(-include ${PROJECT_SOURCE_DIR}/web/libcxx_compat.h)

add_subdirectory(vm)

# Each folder's sources but the native-only ones, and its web/ replacements.
function(orvo_web_library name folder)
  cmake_parse_arguments(PARSE_ARGV 2 opt "" "" "NATIVE_ONLY")
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.cpp
       ${PROJECT_SOURCE_DIR}/${folder}/web/*.cpp)
  list(FILTER sources EXCLUDE REGEX "_main\\.cpp$")
  foreach(file ${opt_NATIVE_ONLY})
    list(REMOVE_ITEM sources ${PROJECT_SOURCE_DIR}/${folder}/${file})
  endforeach()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

add_library(orvo_platform INTERFACE)
target_include_directories(orvo_platform INTERFACE ${PROJECT_SOURCE_DIR})
orvo_web_library(orvo_wav platform/wav NATIVE_ONLY wav_reader.cpp)
target_link_libraries(orvo_wav PUBLIC orvo_platform)
orvo_web_library(orvo_platform_headless platform/headless NATIVE_ONLY headless_open.cpp null_audio_device.cpp)
target_link_libraries(orvo_platform_headless PUBLIC orvo_platform orvo_wav)

orvo_web_library(orvo_gfx gfx NATIVE_ONLY png.cpp font.cpp font_library.cpp glyph_raster.cpp
                 blend_avx2.cpp)
target_link_libraries(orvo_gfx PUBLIC orvo_vm orvo_platform)
orvo_web_library(orvo_services services NATIVE_ONLY sealed_file.cpp zip_library.cpp)
# The archive's reader is compiled against the web build's zip reader.
target_include_directories(orvo_services PRIVATE ${PROJECT_SOURCE_DIR}/services/web/include)
target_link_libraries(orvo_services PUBLIC orvo_vm orvo_platform orvo_gfx)
orvo_web_library(orvo_sound sound NATIVE_ONLY midi_finisher.cpp fluid_library.cpp)
target_link_libraries(orvo_sound PUBLIC orvo_vm orvo_platform)
orvo_web_library(orvo_host host NATIVE_ONLY screenshot.cpp gif_recorder.cpp crash_report.cpp
                 sha256.cpp)
target_link_libraries(orvo_host PUBLIC orvo_vm orvo_services orvo_gfx orvo_sound orvo_platform)

# Under node the program reaches the real file system, as the native one does.
add_executable(orvo-headless ${PROJECT_SOURCE_DIR}/host/headless_main.cpp)
target_link_libraries(orvo-headless PRIVATE orvo_host orvo_platform_headless)
target_link_options(orvo-headless PRIVATE -sENVIRONMENT=node -sNODERAWFS=1 -sALLOW_MEMORY_GROWTH=1
                    -sEXIT_RUNTIME=1)

# orvo-web: the runtime in the page. Waits (the message loop's, the message box's, the
# decoding of a sound) hand control back to the browser through Asyncify; the data
# folder is IndexedDB (IDBFS), mounted and synchronised by the page.
orvo_web_library(orvo_platform_web platform/web)
target_link_libraries(orvo_platform_web PUBLIC orvo_platform)
add_executable(orvo-web ${PROJECT_SOURCE_DIR}/host/web_main.cpp)
target_link_libraries(orvo-web PRIVATE orvo_host orvo_platform_web)
target_link_options(orvo-web PRIVATE -sENVIRONMENT=web -sASYNCIFY=1 -sASYNCIFY_STACK_SIZE=65536
                    -sALLOW_MEMORY_GROWTH=1 -sFORCE_FILESYSTEM=1 -lidbfs.js
                    "-sEXPORTED_RUNTIME_METHODS=['FS','IDBFS','addRunDependency','removeRunDependency']")

# The page's General MIDI synthesizer: FluidSynth compiled to WebAssembly (one script with
# the module inside), as the js-synthesizer package pinned in web/synth ships it; npm ci
# there (scripts/install-deps) puts it in place.
set(synth_package ${PROJECT_SOURCE_DIR}/web/synth/node_modules/js-synthesizer/externals)
set(synth_script ${synth_package}/libfluidsynth-2.4.6.js)
if(NOT EXISTS ${synth_script})
  message(FATAL_ERROR "the web build needs js-synthesizer in web/synth: run scripts/install-deps")
endif()

# The page orvo-pack --web copies beside the game's archive: its HTML and script, the
# runtime and the synthesizer with its licence, in one folder of the build.
set(page ${PROJECT_BINARY_DIR}/page)
set(page_files ${page}/orvo-web.js ${page}/orvo-web.wasm ${page}/index.html ${page}/orvo-page.js
    ${page}/libfluidsynth.js ${page}/libfluidsynth-LICENSE.txt)
add_custom_command(OUTPUT ${page_files}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${page}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE_DIR:orvo-web>/orvo-web.js
          $<TARGET_FILE_DIR:orvo-web>/orvo-web.wasm ${PROJECT_SOURCE_DIR}/web/index.html
          ${PROJECT_SOURCE_DIR}/web/orvo-page.js ${page}
  COMMAND ${CMAKE_COMMAND} -E copy ${synth_script} ${page}/libfluidsynth.js
  COMMAND ${CMAKE_COMMAND} -E copy ${synth_package}/LICENSE.fluidsynth.txt
          ${page}/libfluidsynth-LICENSE.txt
  DEPENDS orvo-web ${PROJECT_SOURCE_DIR}/web/index.html ${PROJECT_SOURCE_DIR}/web/orvo-page.js
          ${synth_script} ${synth_package}/LICENSE.fluidsynth.txt
  COMMENT "The page's folder")
add_custom_target(web_page ALL DEPENDS ${page_files})

# --- tests: the web build's runtime against the native one
enable_testing()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(native_headless ${ORVO_NATIVE_BUILD}/host/orvo-headless)
set(native_mines ${ORVO_NATIVE_BUILD}/tests/examples/games/mines)

# The benchmark programs under node and natively: every checksum must be the C program's.
add_test(NAME web_bench_smoke
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/bench/run --runs 1 --warmup 0 --no-build
          --build ${ORVO_NATIVE_BUILD} --web ${PROJECT_BINARY_DIR} --only fib,sieve,strings
          --fail-on-wrong)
set_tests_properties(web_bench_smoke PROPERTIES TIMEOUT 300)

# mines packed for the web by the native orvo-pack, then played in chromium.
set(mines_site ${PROJECT_BINARY_DIR}/mines-site)
add_custom_command(OUTPUT ${mines_site}/game.orvo
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${mines_site}
  COMMAND ${ORVO_NATIVE_BUILD}/pack/orvo-pack ${native_mines} -o ${mines_site} --web
          --runtime ${PROJECT_BINARY_DIR}/page
  DEPENDS ${page_files} ${native_mines}/main.ove ${ORVO_NATIVE_BUILD}/pack/orvo-pack
  COMMENT "Packing mines for the web")
add_custom_target(mines_site ALL DEPENDS ${mines_site}/game.orvo)
set(web_tests ${PROJECT_SOURCE_DIR}/tests/web)
add_test(NAME web_mines_page
  COMMAND node ${web_tests}/mines_page_test.mjs --site ${mines_site} --headless ${native_headless}
          --map ${native_mines}/main.map --shots ${PROJECT_BINARY_DIR}/mines-page-shots)
set_tests_properties(web_mines_page PROPERTIES TIMEOUT 300)

# Music and the page's bad input: a test game assembled by the native velda, packed by the
# test itself (with a song and without) and played in chromium.
set(music_game ${PROJECT_BINARY_DIR}/games/page_music)
add_custom_command(OUTPUT ${music_game}/main.ove
  COMMAND ${CMAKE_COMMAND} -E make_directory ${music_game}
  COMMAND ${CMAKE_COMMAND} -E chdir ${music_game} ${ORVO_NATIVE_BUILD}/asm/velda -Q
          ${VELDA_LIBRARY} ${web_tests}/games/page_music.ova
  DEPENDS ${VELDA_LIBRARY} ${web_tests}/games/page_music.ova ${ORVO_NATIVE_BUILD}/asm/velda
  VERBATIM)
add_custom_target(music_game ALL DEPENDS ${music_game}/main.ove)
add_test(NAME web_music_page
  COMMAND node ${web_tests}/music_page_test.mjs --pack ${ORVO_NATIVE_BUILD}/pack/orvo-pack
          --game ${music_game}/main.ove --page ${PROJECT_BINARY_DIR}/page
          --shots ${PROJECT_BINARY_DIR}/music-page-shots)
set_tests_properties(web_music_page PROPERTIES TIMEOUT 300)

# Unit tests of the web build's own parts, built with googletest's sources from Debian
# and run under node.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
file(GLOB web_unit_sources CONFIGURE_DEPENDS ${web_tests}/unit/*_test.cpp)
add_executable(web_unit_tests ${web_unit_sources})
target_link_libraries(web_unit_tests PRIVATE gtest_main orvo_services orvo_gfx)
target_include_directories(web_unit_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(web_unit_tests PRIVATE ORVO_WEB_TEST_ARCHIVE="${mines_site}/game.orvo"
                           ORVO_WEB_TEST_GAME="${native_mines}")
target_link_options(web_unit_tests PRIVATE -sENVIRONMENT=node -sNODERAWFS=1 -sALLOW_MEMORY_GROWTH=1
                    -sEXIT_RUNTIME=1)
add_dependencies(web_unit_tests mines_site)
add_test(NAME web_unit_tests COMMAND ${ORVO_NODE} $<TARGET_FILE:web_unit_tests>)

# The FluidSynth device's tests again, in the web build: the device over the bridges to
# the synthesizer's module (loaded as the page loads it, by a script put before the
# program), with the bridges' own checks, under node. The tests of opening a shared
# library are the native build's alone.
add_executable(web_sound_tests ${PROJECT_SOURCE_DIR}/tests/sound/fluid_test.cpp
               ${web_tests}/sound/fluid_bridge_test.cpp)
target_link_libraries(web_sound_tests PRIVATE gtest_main orvo_sound)
target_include_directories(web_sound_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_link_options(web_sound_tests PRIVATE -sENVIRONMENT=node -sNODERAWFS=1 -sALLOW_MEMORY_GROWTH=1
                    -sEXIT_RUNTIME=1 -sASYNCIFY=1 --pre-js ${web_tests}/sound/synthesizer_node.js)
set_property(TARGET web_sound_tests APPEND PROPERTY LINK_DEPENDS ${web_tests}/sound/synthesizer_node.js)
add_dependencies(web_sound_tests web_page)
add_test(NAME web_sound_tests COMMAND ${ORVO_NODE} $<TARGET_FILE:web_sound_tests>
         --gtest_filter=SoundFontSearch.*:FluidDeviceCreate.*:FluidDeviceTest.*:FluidBridge.*)
set_tests_properties(web_sound_tests PROPERTIES ENVIRONMENT ORVO_SYNTHESIZER=${page}/libfluidsynth.js)
