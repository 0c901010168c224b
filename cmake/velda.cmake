# Programs assembled with velda during the build.

# The library that every example and test program is assembled after.
set(VELDA_LIBRARY ${PROJECT_SOURCE_DIR}/examples/lib/header.ova
                  ${PROJECT_SOURCE_DIR}/examples/lib/sys.ova)

# velda_assemble(<folder> <source>...): assembles the sources, in this order, into
# <folder>/main.ove, main.map, main.ovl and main.ovd. velda writes into its current folder, so the
# command makes that folder and changes into it itself: a WORKING_DIRECTORY has to exist
# before the command runs, and Make, unlike Ninja, does not create it.
function(velda_assemble folder)
  add_custom_command(OUTPUT ${folder}/main.ove ${folder}/main.map ${folder}/main.ovl
                            ${folder}/main.ovd
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${CMAKE_COMMAND} -E chdir ${folder} $<TARGET_FILE:velda> -Q ${ARGN}
    DEPENDS velda ${ARGN}
    VERBATIM)
endfunction()

# velda_project_images(<folder> <result-var>): assembles every program of the project,
# each into <folder>/<name>/ — the examples, the test programs, the benchmarks, and the
# images written for the VM fuzzer (tests/fuzz/images, assembled after the header
# alone) — and sets <result-var> to their main.ove files. A program of several files
# (mines) is assembled in file name order.
function(velda_project_images folder result)
  set(src ${PROJECT_SOURCE_DIR})
  set(images)
  macro(image name)
    velda_assemble(${folder}/${name} ${ARGN})
    list(APPEND images ${folder}/${name}/main.ove)
  endmacro()
  file(GLOB mines CONFIGURE_DEPENDS ${src}/examples/mines/*.ova)
  image(hello ${VELDA_LIBRARY} ${src}/examples/hello/hello.ova)
  image(mines ${VELDA_LIBRARY} ${mines})
  file(GLOB programs CONFIGURE_DEPENDS ${src}/tests/gfx/programs/*.ova
       ${src}/tests/host/games/*.ova ${src}/tests/sound/games/*.ova
       ${src}/tests/debugger/games/*.ova)
  foreach(file ${programs})
    get_filename_component(name ${file} NAME_WE)
    image(${name} ${VELDA_LIBRARY} ${file})
  endforeach()
  file(GLOB benchmarks CONFIGURE_DEPENDS ${src}/bench/*/*.ova)
  list(FILTER benchmarks EXCLUDE REGEX "/bench/lib/")
  foreach(file ${benchmarks})
    get_filename_component(name ${file} NAME_WE)
    image(${name} ${VELDA_LIBRARY} ${src}/bench/lib/bench.ova ${file})
  endforeach()
  file(GLOB fuzz_images CONFIGURE_DEPENDS ${src}/tests/fuzz/images/*.ova)
  foreach(file ${fuzz_images})
    get_filename_component(name ${file} NAME_WE)
    image(${name} ${src}/examples/lib/header.ova ${file})
  endforeach()
  set(${result} ${images} PARENT_SCOPE)
endfunction()
