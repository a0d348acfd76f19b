# The boot image: tools/make-boot-image, built natively from the runtime's
# objects, loads the Mox files listed in library/order.txt (paths from the
# source root: library/, view/, console/) and writes them as one Moxbin
# document, and as a C++ source that embeds it (MOX_BOOT_IMAGE_SOURCE).
#
# A cross build cannot run its own objects: it takes the tool given by
# -DMOX_BOOT_TOOL=path, or else builds one with the host compiler in
# host-tool/ under its build folder. Every build embeds the same bytes.
file(GLOB_RECURSE MOX_BOOT_FILES CONFIGURE_DEPENDS library/*.mox view/*.mox console/*.mox)
set(MOX_BOOT_IMAGE ${CMAKE_BINARY_DIR}/boot-image.moxbin)
set(MOX_BOOT_IMAGE_SOURCE ${CMAKE_BINARY_DIR}/boot-image.cpp)
set(MOX_BOOT_TOOL "" CACHE FILEPATH "A native make-boot-image for cross builds (built when empty)")

if(NOT CMAKE_CROSSCOMPILING)
  add_executable(make-boot-image tools/make-boot-image.cpp $<TARGET_OBJECTS:moxcore>)
  target_include_directories(make-boot-image PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(make-boot-image PRIVATE ${MOX_SYSTEM_LIBS})
  set(boot_tool $<TARGET_FILE:make-boot-image>)
  set(boot_tool_target make-boot-image)
elseif(MOX_BOOT_TOOL)
  set(boot_tool ${MOX_BOOT_TOOL})
  set(boot_tool_target ${MOX_BOOT_TOOL})
else()
  include(ExternalProject)
  set(host_dir ${CMAKE_BINARY_DIR}/host-tool)
  ExternalProject_Add(host_boot_tool
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${host_dir}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DMOX_TESTS=OFF
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${host_dir} --target make-boot-image
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${host_dir}/make-boot-image)
  set(boot_tool ${host_dir}/make-boot-image)
  set(boot_tool_target host_boot_tool)
endif()

add_custom_command(OUTPUT ${MOX_BOOT_IMAGE} ${MOX_BOOT_IMAGE_SOURCE}
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
          ${boot_tool} ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/library/order.txt
          ${MOX_BOOT_IMAGE} ${MOX_BOOT_IMAGE_SOURCE}
  DEPENDS ${boot_tool_target} ${CMAKE_SOURCE_DIR}/library/order.txt ${MOX_BOOT_FILES}
  COMMENT "Writing the boot image")
