# bm_product_library(NAME [RECURSE]): one static library from every .cpp file of the current
# folder (and, with RECURSE, of its sub-folders).
function(bm_product_library name)
  if("RECURSE" IN_LIST ARGN)
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  else()
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  if(NOT srcs)
    set(srcs ${CMAKE_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  add_library(${name} STATIC ${srcs})
endfunction()
